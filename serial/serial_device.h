#pragma once

#include <cstdint>

#include "serial/transfer.h"

namespace vantrel {

/// A port handle as a plain number: a Win32 HANDLE on Windows, a file descriptor natively.
using PortHandle = std::intptr_t;
/// The invalid-handle value (all bits set) on both platforms.
constexpr PortHandle kInvalidPort = -1;

/// Line setting codes of Open. Codes outside these values are undefined and reported.
enum class ParityCode : std::uint8_t { Even = 0, Mark = 1, None = 2, Odd = 3, Space = 4 };
enum class StopBitsCode : std::uint8_t { One = 0, OneAndHalf = 1, Two = 2 };
enum class FlowControlCode : std::uint8_t {
    None = 0,
    CtsRts = 1,
    CtsDtr = 2,
    DsrRts = 3,
    DsrDtr = 4,
    XonXoff = 5
};

/// The port's time-out record, field for field as the system keeps it (milliseconds).
struct SerialTimeouts {
    std::uint32_t readIntervalTimeout = 0;
    std::uint32_t readTotalTimeoutMultiplier = 0;
    std::uint32_t readTotalTimeoutConstant = 0;
    std::uint32_t writeTotalTimeoutMultiplier = 0;
    std::uint32_t writeTotalTimeoutConstant = 0;
};

/// No interval limit: the value MAXDWORD of the time-out record.
constexpr std::uint32_t kNoIntervalTimeout = 0xFFFFFFFFu;

/// The operations of a serial port. Abstract so that the protocols can be run against a
/// recording fake in tests; SerialPort is the one real implementation.
class SerialDevice {
  public:
    virtual ~SerialDevice() = default;

    /// Opens and configures the port; the new handle, or kInvalidPort.
    virtual PortHandle Open(std::uint32_t port, std::uint32_t baudRate, ParityCode parity,
                            std::uint8_t dataBits, StopBitsCode stopBits, FlowControlCode flow,
                            bool overlapped) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    /// Whether the last Open failed because the port is held elsewhere (the system refused
    /// access), as against a port that is not there or is no serial line.
    virtual bool OpenRefused() const { return false; }
    /// The bytes read: fewer than count when the line stayed silent past the port's time-outs.
    /// kTransferFailed when nothing was read because the port is not open or the read failed.
    virtual int Read(void* buffer, std::uint32_t count) = 0;
    /// The bytes written, or kTransferFailed when none went because the port failed.
    virtual int Write(const void* buffer, std::uint32_t count) = 0;
    /// Drops received bytes not yet read. True when done, like the calls below.
    virtual bool Purge() = 0;
    virtual bool Flush() = 0;
    virtual bool SetBreak() = 0;
    virtual void SetRts() = 0;
    virtual void ClearDtr() = 0;
    virtual bool GetTimeouts(SerialTimeouts* timeouts) = 0;
    virtual bool SetTimeouts(const SerialTimeouts& timeouts) = 0;
};

}  // namespace vantrel
