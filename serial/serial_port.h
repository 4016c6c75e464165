#pragma once

#include <cstdint>
#include <functional>

#include "serial/serial_device.h"

namespace vantrel {

/// Shows the "Error" message of an undefined setting code. Injectable so tests count the
/// messages instead of blocking on a message box.
using SerialErrorReporter = std::function<void(const char* text)>;

/// A COM port (Windows) or a terminal device such as a pty (native builds). Each operation is
/// one system call on the caller's thread; the object owns the handle and closes it when
/// destroyed.
class SerialPort : public SerialDevice {
  public:
    /// The "Error" message goes to a message box (Windows) or to stderr (native).
    SerialPort();
    explicit SerialPort(SerialErrorReporter reporter);
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    /// Port numbers above 255 are refused without a system call. A handle still held from an
    /// earlier Open is closed first, so a port is never left held out of reach.
    PortHandle Open(std::uint32_t port, std::uint32_t baudRate, ParityCode parity,
                    std::uint8_t dataBits, StopBitsCode stopBits, FlowControlCode flow,
                    bool overlapped) override;
    void Close() override;
    bool IsOpen() const override;
    bool OpenRefused() const override { return m_bOpenRefused; }
    int Read(void* buffer, std::uint32_t count) override;
    int Write(const void* buffer, std::uint32_t count) override;
    bool Purge() override;
    bool Flush() override;
    bool SetBreak() override;
    void SetRts() override;
    void ClearDtr() override;
    bool GetTimeouts(SerialTimeouts* timeouts) override;
    bool SetTimeouts(const SerialTimeouts& timeouts) override;

    /// Highest port number that Open tries.
    static constexpr std::uint32_t kMaxPortNumber = 255;
    /// Read time-outs set by Open: a Read waits at most 1000 ms in all.
    static constexpr SerialTimeouts kOpenTimeouts{kNoIntervalTimeout, 0, 1000, 1, 1000};

  private:
    void ReportError();

    PortHandle m_hPort = kInvalidPort;
    std::int32_t m_bOverlapped = 0;
    bool m_bOpenRefused = false;
    SerialErrorReporter m_reporter;
#ifndef _WIN32
    SerialTimeouts m_timeouts{};
#endif
};

}  // namespace vantrel
