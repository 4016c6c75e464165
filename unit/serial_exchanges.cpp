#include "unit/serial_exchanges.h"

#include <array>
#include <utility>

namespace vantrel {
namespace {

using Ms = Clock::Duration;

// One reply, read with one read of its fixed length; the count tells how much arrived.
struct Reply {
    std::array<std::uint8_t, kStatusReplyLength> bytes{};
    std::size_t received = 0;
};

bool Send(SerialDevice& serial, const SerialFrame& frame) {
    const auto size = static_cast<std::uint32_t>(frame.size());
    return serial.Write(frame.data(), size) == static_cast<int>(size);
}

Reply ReadReply(SerialDevice& serial, std::size_t length) {
    Reply reply;
    const int got = serial.Read(reply.bytes.data(), static_cast<std::uint32_t>(length));
    reply.received = got > 0 ? static_cast<std::size_t>(got) : 0;  // a failed read brought nothing
    return reply;
}

// Purge, write, pause, read: the pattern of most requests that expect a reply.
Reply Ask(SerialDevice& serial, Clock& clock, const SerialFrame& frame, Ms pause,
          std::size_t length) {
    serial.Purge();
    Send(serial, frame);
    clock.Sleep(pause);
    return ReadReply(serial, length);
}

// A decoded reply as a result: nothing at all is no reply, anything else that did not decode
// failed its check.
template <typename T>
Result<T> Judged(const std::optional<T>& value, const Reply& reply) {
    if (value) return *value;
    return Failure{reply.received == 0 ? Fault::kNothingReceived : Fault::kBadReply};
}

Outcome Sent(bool sent) {
    if (sent) return {};
    return Failure{Fault::kSendFailed};
}

std::uint8_t ReadCode(Level level) {
    switch (level) {
        case Level::Brightness:
            return main_cmd::kReadBrightness;
        case Level::Contrast:
            return main_cmd::kReadContrast;
        case Level::Saturation:
            return main_cmd::kReadSaturation;
        case Level::Volume:  // read with its own frame, never stepped by 5
            break;
    }
    return main_cmd::kReadBrightness;
}

// Each LCD level's set code is one below its read code.
std::uint8_t SetCode(Level level) { return ReadCode(level) - 1; }

bool WriteLevel(SerialDevice& serial, Clock& clock, Level level, std::uint8_t value) {
    serial.Purge();
    const bool sent = Send(serial, BuildFrame(SerialUnit::Main, SetCode(level), value));
    clock.Sleep(Ms(30));
    return sent;
}

Result<std::uint32_t> ReadAddress(SerialDevice& serial, Clock& clock, std::uint8_t command) {
    Reply reply =
        Ask(serial, clock, BuildFrame(SerialUnit::Net, command), Ms(200), kAddressReplyLength);
    return Judged(DecodeAddressReply(reply.bytes.data(), reply.received), reply);
}

// IP, mask and gateway into `settings`, each checked; stops at the first reply that fails.
Outcome ReadAddresses(SerialDevice& serial, Clock& clock, NetworkSettings& settings) {
    struct Step {
        std::uint8_t command;
        std::optional<std::uint32_t> NetworkSettings::*value;
    };
    constexpr Step kSteps[] = {{net_cmd::kReadIp, &NetworkSettings::ip},
                               {net_cmd::kReadMask, &NetworkSettings::mask},
                               {net_cmd::kReadGateway, &NetworkSettings::gateway}};
    for (const Step& step : kSteps) {
        Result<std::uint32_t> address = ReadAddress(serial, clock, step.command);
        if (!address.Ok()) return address.GetFailure();
        settings.*step.value = address.Value();
    }
    return {};
}

}  // namespace

bool OpenSelectedPort(SerialDevice& serial, const std::int32_t* comPorts, std::int32_t count,
                      std::int32_t selection) {
    if (selection < 0 || selection >= count) return false;
    return serial.Open(static_cast<std::uint32_t>(comPorts[selection]), kPanelBaudRate,
                       ParityCode::None, 8, StopBitsCode::One, FlowControlCode::None,
                       false) != kInvalidPort;
}

Outcome RunPlainCommand(SerialDevice& serial, const SerialFrame& frame) {
    const bool sent = Send(serial, frame);
    serial.Close();
    return Sent(sent);
}

Outcome RunFactoryReset(SerialDevice& serial, Clock& clock) {
    serial.Purge();
    const bool sent = Send(serial, BuildFrame(SerialUnit::Main, main_cmd::kFactoryReset));
    clock.Sleep(Ms(30));
    serial.Close();
    return Sent(sent);
}

Result<std::uint8_t> RunVolumeStep(SerialDevice& serial, Clock& clock, StepDirection direction) {
    const bool sent = Send(serial, BuildFrame(SerialUnit::Main, direction == StepDirection::Up
                                                                    ? main_cmd::kVolumeUp
                                                                    : main_cmd::kVolumeDown));
    clock.Sleep(Ms(30));
    Reply reply = Ask(serial, clock, BuildFrame(SerialUnit::Main, main_cmd::kReadVolume), Ms(30),
                      kLevelReplyLength);
    serial.Close();
    if (!sent) return Failure{Fault::kSendFailed};
    return Judged(DecodeLevelReply(reply.bytes.data(), reply.received), reply);
}

std::optional<std::uint8_t> SteppedLevel(std::uint8_t level, StepDirection direction) {
    if (direction == StepDirection::Down) {
        if (level < 5) return std::nullopt;
        return static_cast<std::uint8_t>(level - 5);
    }
    if (level > 250) return std::nullopt;
    return static_cast<std::uint8_t>(level + 5);
}

Result<LevelStep> RunLevelStep(SerialDevice& serial, Clock& clock, Level level,
                               StepDirection direction) {
    LevelStep step;
    Reply reply = Ask(serial, clock, BuildFrame(SerialUnit::Main, ReadCode(level)), Ms(30),
                      kLevelReplyLength);
    const Result<std::uint8_t> read =
        Judged(DecodeLevelReply(reply.bytes.data(), reply.received), reply);
    bool sent = true;
    if (read.Ok()) {
        step.read = read.Value();
        step.stepped = SteppedLevel(read.Value(), direction);
        if (step.stepped) sent = WriteLevel(serial, clock, level, *step.stepped);
    }
    serial.Close();
    if (!read.Ok()) return {read.GetFailure(), step};
    if (!sent) return {Failure{Fault::kSendFailed}, step};
    return step;
}

Outcome RunLevelSet(SerialDevice& serial, Clock& clock, Level level, std::uint8_t value) {
    const bool sent = WriteLevel(serial, clock, level, value);
    serial.Close();
    return Sent(sent);
}

Result<StatusBlock> RunStatusRead(SerialDevice& serial, Clock& clock) {
    Reply reply = Ask(serial, clock, BuildFrame(SerialUnit::Main, main_cmd::kReadStatus), Ms(50),
                      kStatusReplyLength);
    serial.Close();
    return Judged(DecodeStatusReply(reply.bytes.data(), reply.received), reply);
}

Result<NetworkSettings> RunNetworkRead(SerialDevice& serial, Clock& clock,
                                       NetworkReadVariant variant) {
    NetworkSettings settings;
    const bool linkChoice = variant == NetworkReadVariant::LinkChoice;
    if (linkChoice) serial.Purge();
    Send(serial, BuildFrame(SerialUnit::Net, net_cmd::kReadMac));
    clock.Sleep(Ms(linkChoice ? 100 : 200));
    Reply macReply = ReadReply(serial, kMacReplyLength);
    const Result<MacAddress> mac =
        Judged(DecodeMacReply(macReply.bytes.data(), macReply.received), macReply);
    if (!mac.Ok()) return {mac.GetFailure(), settings};
    settings.mac = mac.Value();
    if (linkChoice) clock.Sleep(Ms(200));

    if (Outcome read = ReadAddresses(serial, clock, settings); !read.Ok()) {
        return {read.GetFailure(), settings};
    }

    Reply modeReply = Ask(serial, clock, BuildFrame(SerialUnit::Net, net_cmd::kReadMode), Ms(200),
                          kModeReplyLength);
    const std::optional<std::uint8_t> mode =
        DecodeModeReply(modeReply.bytes.data(), modeReply.received);
    if (mode == kModeStatic) settings.mode = AddressMode::Static;
    if (mode == kModeDhcp) settings.mode = AddressMode::Dhcp;
    return settings;
}

Result<NetworkSettings> RunNetworkWrite(SerialDevice& serial, Clock& clock,
                                        const std::optional<Addresses>& addresses,
                                        AddressMode mode) {
    bool sent = true;
    if (addresses) {
        const std::pair<std::uint8_t, std::uint32_t> writes[] = {
            {net_cmd::kWriteIp, addresses->ip},
            {net_cmd::kWriteMask, addresses->mask},
            {net_cmd::kWriteGateway, addresses->gateway}};
        for (const auto& [command, address] : writes) {
            serial.Purge();
            sent &= Send(serial, BuildAddressFrame(SerialUnit::Net, command, address));
            clock.Sleep(Ms(200));
        }
    }
    serial.Purge();
    const std::uint8_t modeByte = mode == AddressMode::Static ? kModeStatic : kModeDhcp;
    sent &= Send(serial, BuildFrame(SerialUnit::Net, net_cmd::kWriteMode, modeByte));
    clock.Sleep(Ms(6000));
    NetworkSettings settings;
    if (Outcome read = ReadAddresses(serial, clock, settings); !read.Ok()) {
        return {read.GetFailure(), settings};
    }
    if (!sent) return {Failure{Fault::kSendFailed}, settings};
    return settings;
}

Outcome RunDefaultIp(SerialDevice& serial) {
    return Sent(Send(serial, BuildFrame(SerialUnit::Net, net_cmd::kDefaultIp)));
}

Result<std::uint32_t> RunAddressRead(SerialDevice& serial, Clock& clock) {
    return ReadAddress(serial, clock, net_cmd::kReadIp);
}

Result<FirmwareVersions> RunVersionRead(SerialDevice& serial, Clock& clock) {
    FirmwareVersions versions;
    Reply mainReply = Ask(serial, clock, BuildFrame(SerialUnit::Main, main_cmd::kReadVersion),
                          Ms(200), kVersionReplyLength);
    const Result<FirmwareVersion> main =
        Judged(DecodeVersionReply(mainReply.bytes.data(), mainReply.received), mainReply);
    if (main.Ok()) {
        versions.main = main.Value();
        clock.Sleep(Ms(500));
        Reply netReply = Ask(serial, clock, BuildFrame(SerialUnit::Net, net_cmd::kReadVersion),
                             Ms(200), kVersionReplyLength);
        versions.net = DecodeVersionReply(netReply.bytes.data(), netReply.received);
    }
    serial.Close();
    if (!main.Ok()) return {main.GetFailure(), versions};
    return versions;
}

Outcome EnterLoader(SerialDevice& serial, Clock& clock) {
    const bool sent = Send(serial, BuildFrame(SerialUnit::Main, main_cmd::kEnterBootloader));
    clock.Sleep(Ms(3000));
    serial.Purge();
    return Sent(sent);
}

}  // namespace vantrel
