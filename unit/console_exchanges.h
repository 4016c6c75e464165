#pragma once

#include <cstdint>

#include "unit/byte_stream.h"
#include "unit/clock.h"
#include "unit/outcome.h"
#include "unit/unit_values.h"

namespace vantrel {

/// The exchanges of the unit's text console, over a connected stream: each sends the lines of
/// its command code (the command table), makes its pauses through the clock and returns what
/// the unit answered. Nothing here knows of a window; the session and the tool both use it.
/// Lives where the session's buffers live (its thread's stack).
class ConsoleExchanges {
  public:
    static constexpr std::uint16_t kConsolePort = 23;
    static constexpr int kReceiveSize = 450;

    ConsoleExchanges(ByteStream& stream, Clock& clock);

    /// Connects to the console at `address` (first octet in the top byte), port 23.
    Outcome Connect(std::uint32_t address);
    /// The login: receive the greeting, the user and the password lines, each followed by a
    /// receive. The unit's answers are not examined; a link that broke fails it, and so does a
    /// unit that closed the connection meanwhile (kClosedAtLogin).
    Outcome LogIn();
    /// READMAC: the first six bytes of the reply.
    Result<MacAddress> ReadMac();
    /// STA1, 50 ms, the reply: the status block from its first byte.
    Result<StatusBlock> ReadStatus();
    /// A command of the table that sends one line and reads nothing (the buttons, Mute,
    /// Default IP, Factory Reset with its 300 ms after the line).
    Outcome Send(std::uint8_t code);
    /// A level command: the ROT line, 50 ms, the REA line, then the level the unit reports.
    /// A reply that begins with no digit still reads as 0, as the panel shows it, but fails.
    Result<std::int32_t> StepLevel(std::uint8_t code);
    /// READIP, READMASK and READGATEWAY, each after 50 ms: every address that passed its check,
    /// also when a later one failed. A missing reply fails worse than a short one, and the
    /// worst is what is reported.
    Result<NetworkSettings> ReadAddresses();
    /// IPMODE after 50 ms: 'S' or 'D' at the start of the reply. As with the status and the
    /// levels, only a failed receive is no reply; an empty one fails its check.
    Result<AddressMode> ReadMode();
    /// ReadAddresses, then ReadMode: all that passed, and the worse of the two failures.
    Result<NetworkSettings> ReadSettings();
    /// The address mode line (none while the mode is unknown), then the mask, gateway and IP
    /// lines with their pauses. Nothing is read back: the unit may take another address.
    Outcome ApplySettings(AddressMode mode, const Addresses& addresses);

  private:
    int SendText(const char* text);
    int Receive();
    /// A request line, 50 ms, its reply: the receive's count, or kTransferFailed when the send
    /// failed.
    int Request(const char* text);

    ByteStream& m_stream;
    Clock& m_clock;
    std::uint8_t m_buffer[kReceiveSize];  // reused by every receive, never cleared or terminated
};

}  // namespace vantrel
