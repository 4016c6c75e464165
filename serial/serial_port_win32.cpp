#include "serial/serial_port.h"

#include <windows.h>

#include <cstdio>
#include <utility>

namespace vantrel {
namespace {

HANDLE ToHandle(PortHandle port) { return reinterpret_cast<HANDLE>(port); }

COMMTIMEOUTS ToCommTimeouts(const SerialTimeouts& t) {
    COMMTIMEOUTS ct{};
    ct.ReadIntervalTimeout = t.readIntervalTimeout;
    ct.ReadTotalTimeoutMultiplier = t.readTotalTimeoutMultiplier;
    ct.ReadTotalTimeoutConstant = t.readTotalTimeoutConstant;
    ct.WriteTotalTimeoutMultiplier = t.writeTotalTimeoutMultiplier;
    ct.WriteTotalTimeoutConstant = t.writeTotalTimeoutConstant;
    return ct;
}

// Returns false for an undefined code, leaving the DCB's parity as the driver reported it.
bool ApplyParity(DCB& dcb, ParityCode code) {
    switch (code) {
        case ParityCode::Even:
            dcb.Parity = EVENPARITY;
            return true;
        case ParityCode::Mark:
            dcb.Parity = MARKPARITY;
            return true;
        case ParityCode::None:
            dcb.Parity = NOPARITY;
            return true;
        case ParityCode::Odd:
            dcb.Parity = ODDPARITY;
            return true;
        case ParityCode::Space:
            dcb.Parity = SPACEPARITY;
            return true;
    }
    return false;
}

bool ApplyStopBits(DCB& dcb, StopBitsCode code) {
    switch (code) {
        case StopBitsCode::One:
            dcb.StopBits = ONESTOPBIT;
            return true;
        case StopBitsCode::OneAndHalf:
            dcb.StopBits = ONE5STOPBITS;
            return true;
        case StopBitsCode::Two:
            dcb.StopBits = TWOSTOPBITS;
            return true;
    }
    return false;
}

// Handshake flags; fDtrControl and fRtsControl stay as read unless the code names them.
bool ApplyFlowControl(DCB& dcb, FlowControlCode code) {
    switch (code) {
        case FlowControlCode::None:
            dcb.fOutxCtsFlow = 0;
            dcb.fOutxDsrFlow = 0;
            break;
        case FlowControlCode::CtsRts:
            dcb.fOutxCtsFlow = 1;
            dcb.fOutxDsrFlow = 0;
            dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
            break;
        case FlowControlCode::CtsDtr:
            dcb.fOutxCtsFlow = 1;
            dcb.fOutxDsrFlow = 0;
            dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
            break;
        case FlowControlCode::DsrRts:
            dcb.fOutxCtsFlow = 0;
            dcb.fOutxDsrFlow = 1;
            dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
            break;
        case FlowControlCode::DsrDtr:
            dcb.fOutxCtsFlow = 0;
            dcb.fOutxDsrFlow = 1;
            dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
            break;
        case FlowControlCode::XonXoff:
            dcb.fOutxCtsFlow = 0;
            dcb.fOutxDsrFlow = 0;
            dcb.fOutX = 1;
            dcb.fInX = 1;
            dcb.XonChar = 0x11;
            dcb.XoffChar = 0x13;
            dcb.XonLim = 100;
            dcb.XoffLim = 100;
            return true;
        default:
            return false;
    }
    dcb.fOutX = 0;
    dcb.fInX = 0;
    return true;
}

}  // namespace

SerialPort::SerialPort()
    : SerialPort([](const char* text) { MessageBoxA(nullptr, text, "Error", MB_OK); }) {}

SerialPort::SerialPort(SerialErrorReporter reporter) : m_reporter(std::move(reporter)) {}

SerialPort::~SerialPort() { Close(); }

void SerialPort::ReportError() { m_reporter("Error"); }

PortHandle SerialPort::Open(std::uint32_t port, std::uint32_t baudRate, ParityCode parity,
                            std::uint8_t dataBits, StopBitsCode stopBits, FlowControlCode flow,
                            bool overlapped) {
    if (port > kMaxPortNumber) return kInvalidPort;
    Close();

    char path[16];
    std::snprintf(path, sizeof path, "\\\\.\\COM%u", static_cast<unsigned>(port));
    HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    m_bOpenRefused = handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED;
    m_hPort = reinterpret_cast<PortHandle>(handle);
    m_bOverlapped = overlapped ? 1 : 0;

    // The codes are examined even when the port did not open; a bad one keeps the driver's
    // value. The configuration calls below then fail without effect on an invalid handle.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const bool isSerialLine = GetCommState(handle, &dcb) != FALSE;
    dcb.BaudRate = baudRate;
    if (!ApplyParity(dcb, parity)) ReportError();
    dcb.ByteSize = dataBits;
    if (!ApplyStopBits(dcb, stopBits)) ReportError();
    dcb.fDsrSensitivity = 0;
    if (!ApplyFlowControl(dcb, flow)) ReportError();
    if (handle != INVALID_HANDLE_VALUE && !isSerialLine) {
        // Wine hands out a handle for a COM port whose device is gone (an unplugged adapter,
        // a stale mapping), on which nothing works: that port did not open.
        Close();
        return kInvalidPort;
    }
    SetCommState(handle, &dcb);

    COMMTIMEOUTS timeouts = ToCommTimeouts(kOpenTimeouts);
    SetCommTimeouts(handle, &timeouts);
    if (handle == INVALID_HANDLE_VALUE) m_bOverlapped = 0;
    return m_hPort;
}

void SerialPort::Close() {
    if (m_hPort == kInvalidPort) return;
    CloseHandle(ToHandle(m_hPort));
    m_hPort = kInvalidPort;
    m_bOverlapped = 0;
}

bool SerialPort::IsOpen() const { return m_hPort != kInvalidPort; }

// A call that failed after moving some bytes still reports them: they went on the line.
int SerialPort::Read(void* buffer, std::uint32_t count) {
    if (m_hPort == kInvalidPort || m_bOverlapped) return kTransferFailed;
    DWORD got = 0;
    const BOOL ok = ReadFile(ToHandle(m_hPort), buffer, count, &got, nullptr);
    return ok || got > 0 ? static_cast<int>(got) : kTransferFailed;
}

int SerialPort::Write(const void* buffer, std::uint32_t count) {
    if (m_hPort == kInvalidPort || m_bOverlapped) return kTransferFailed;
    DWORD sent = 0;
    const BOOL ok = WriteFile(ToHandle(m_hPort), buffer, count, &sent, nullptr);
    return ok || sent > 0 ? static_cast<int>(sent) : kTransferFailed;
}

bool SerialPort::Purge() { return PurgeComm(ToHandle(m_hPort), PURGE_RXCLEAR) != 0; }

bool SerialPort::Flush() { return FlushFileBuffers(ToHandle(m_hPort)) != 0; }

bool SerialPort::SetBreak() { return SetCommBreak(ToHandle(m_hPort)) != 0; }

void SerialPort::SetRts() {
    if (m_hPort != kInvalidPort) EscapeCommFunction(ToHandle(m_hPort), SETRTS);
}

void SerialPort::ClearDtr() {
    if (m_hPort != kInvalidPort) EscapeCommFunction(ToHandle(m_hPort), CLRDTR);
}

bool SerialPort::GetTimeouts(SerialTimeouts* timeouts) {
    COMMTIMEOUTS ct{};
    BOOL ok = GetCommTimeouts(ToHandle(m_hPort), &ct);
    if (ok) {
        timeouts->readIntervalTimeout = ct.ReadIntervalTimeout;
        timeouts->readTotalTimeoutMultiplier = ct.ReadTotalTimeoutMultiplier;
        timeouts->readTotalTimeoutConstant = ct.ReadTotalTimeoutConstant;
        timeouts->writeTotalTimeoutMultiplier = ct.WriteTotalTimeoutMultiplier;
        timeouts->writeTotalTimeoutConstant = ct.WriteTotalTimeoutConstant;
    }
    return ok != 0;
}

bool SerialPort::SetTimeouts(const SerialTimeouts& timeouts) {
    COMMTIMEOUTS ct = ToCommTimeouts(timeouts);
    return SetCommTimeouts(ToHandle(m_hPort), &ct) != 0;
}

}  // namespace vantrel
