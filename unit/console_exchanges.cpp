#include "unit/console_exchanges.h"

#include <cstdio>
#include <cstring>

#include "unit/command_table.h"
#include "unit/console_reply.h"

namespace vantrel {

namespace {

constexpr Clock::Duration kReplyPause{50};
constexpr Clock::Duration kSettingPause{100};

constexpr Failure kNoReply{Fault::kNothingReceived};
constexpr Failure kBadReply{Fault::kBadReply};
constexpr Failure kNotSent{Fault::kSendFailed};

// A receive's count as a reply of at least `least` bytes: a failed receive is no reply at all.
Failure Judge(int received, int least) {
    if (received < 0) return kNoReply;
    return received < least ? kBadReply : Failure{};
}

// An address reply: one that brought nothing before the unit closed is missing too.
Failure JudgeAddress(int received) { return received == 0 ? kNoReply : Judge(received, 4); }

// Of two failures, the one to report: a reply missing is worse than one that failed its check.
Failure Worse(const Failure& a, const Failure& b) {
    if (a.fault == Fault::kNothingReceived || b.fault == Fault::kNone) return a;
    if (b.fault == Fault::kNothingReceived || a.fault == Fault::kNone) return b;
    return a;
}

}  // namespace

ConsoleExchanges::ConsoleExchanges(ByteStream& stream, Clock& clock)
    : m_stream(stream), m_clock(clock) {}

Outcome ConsoleExchanges::Connect(std::uint32_t address) {
    char dotted[16];
    FormatDotted(address, dotted);
    if (m_stream.Connect(dotted, kConsolePort)) return {};
    m_stream.Close();
    return Failure{Fault::kNotOpened, "Connect to device fail."};
}

Outcome ConsoleExchanges::LogIn() {
    bool broken = false;
    bool closed = false;
    auto receive = [&] {
        const int received = Receive();
        broken |= received < 0;
        closed |= received == 0;
    };
    receive();  // the greeting
    broken |= SendText("admin\r\n") < 0;
    receive();
    broken |= SendText("846\r\n") < 0;
    receive();
    // Once the unit has closed, what failed after it follows from that.
    if (closed) return Failure{Fault::kClosedAtLogin};
    if (broken) return kNoReply;
    return {};
}

Result<MacAddress> ConsoleExchanges::ReadMac() {
    SendText("READMAC\r\n");
    const int received = Receive();
    if (const Failure failure = Judge(received, 6); failure.fault != Fault::kNone) return failure;
    MacAddress mac;
    std::memcpy(mac.data(), m_buffer, mac.size());
    return mac;
}

Result<StatusBlock> ConsoleExchanges::ReadStatus() {
    const int received = Request(CommandFor(kStatusPollCode).text);
    if (const Failure failure = Judge(received, kStatusBlockSize); failure.fault != Fault::kNone) {
        return failure;
    }
    StatusBlock block;
    std::memcpy(block.data(), m_buffer, block.size());
    return block;
}

Outcome ConsoleExchanges::Send(std::uint8_t code) {
    const Command& command = CommandFor(code);
    const int sent = SendText(command.text);
    if (command.pauseAfterMs > 0) m_clock.Sleep(Clock::Duration(command.pauseAfterMs));
    if (sent < 0) return kNotSent;
    return {};
}

Result<std::int32_t> ConsoleExchanges::StepLevel(std::uint8_t code) {
    const Command& command = CommandFor(code);
    SendText(command.text);
    m_clock.Sleep(kReplyPause);
    SendText(command.readText);
    const int received = Receive();
    if (received < 0) return kNoReply;
    const std::int32_t level = ParseLevelReply(m_buffer, received);
    if (!StartsWithLevel(m_buffer, received)) return {kBadReply, level};
    return level;
}

Result<NetworkSettings> ConsoleExchanges::ReadAddresses() {
    NetworkSettings settings;
    Failure failure;
    // The reads go on after a failed one; each that passed is kept.
    auto address = [&](const char* request) -> std::optional<std::uint32_t> {
        const int received = Request(request);
        failure = Worse(failure, JudgeAddress(received));
        std::uint32_t value = 0;
        if (!AddressFromReply(m_buffer, received, value)) return std::nullopt;
        return value;
    };
    settings.ip = address("READIP\r\n");
    settings.mask = address("READMASK\r\n");
    settings.gateway = address("READGATEWAY\r\n");
    return {failure, settings};
}

Result<AddressMode> ConsoleExchanges::ReadMode() {
    const int received = Request("IPMODE\r\n");
    if (const Failure failure = Judge(received, 1); failure.fault != Fault::kNone) return failure;
    if (m_buffer[0] == 'S') return AddressMode::Static;
    if (m_buffer[0] == 'D') return AddressMode::Dhcp;
    return kBadReply;
}

Result<NetworkSettings> ConsoleExchanges::ReadSettings() {
    Result<NetworkSettings> addresses = ReadAddresses();
    const Result<AddressMode> mode = ReadMode();
    NetworkSettings& settings = addresses.Value();
    if (mode.Ok()) settings.mode = mode.Value();
    return {Worse(addresses.GetFailure(), mode.GetFailure()), settings};
}

Outcome ConsoleExchanges::ApplySettings(AddressMode mode, const Addresses& addresses) {
    bool failed = false;
    if (mode == AddressMode::Static) failed |= SendText("SETIPMODE=S\r\n") < 0;
    if (mode == AddressMode::Dhcp) failed |= SendText("SETIPMODE=D\r\n") < 0;
    m_clock.Sleep(kReplyPause);
    const std::pair<const char*, std::uint32_t> lines[] = {
        {"MASK=", addresses.mask}, {"GATEWAY=", addresses.gateway}, {"IP=", addresses.ip}};
    for (const auto& [name, address] : lines) {
        char dotted[16];
        FormatDotted(address, dotted);
        char line[26];  // the longest: "GATEWAY=255.255.255.255\r\n"
        std::snprintf(line, sizeof line, "%s%s\r\n", name, dotted);
        failed |= SendText(line) < 0;
        m_clock.Sleep(kSettingPause);
    }
    if (failed) return kNotSent;
    return {};
}

int ConsoleExchanges::SendText(const char* text) {
    return m_stream.Send(text, static_cast<int>(std::strlen(text)));
}

int ConsoleExchanges::Receive() { return m_stream.Receive(m_buffer, kReceiveSize); }

int ConsoleExchanges::Request(const char* text) {
    const int sent = SendText(text);
    m_clock.Sleep(kReplyPause);
    const int received = Receive();
    return sent < 0 ? kTransferFailed : received;
}

}  // namespace vantrel
