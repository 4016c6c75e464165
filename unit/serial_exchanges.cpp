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

void Send(SerialDevice& serial, const SerialFrame& frame) {
    serial.Write(frame.data(), static_cast<std::uint32_t>(frame.size()));
}

Reply ReadReply(SerialDevice& serial, std::size_t length) {
    Reply reply;
    reply.received = serial.Read(reply.bytes.data(), static_cast<std::uint32_t>(length));
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

std::uint8_t ReadCode(LcdLevel level) {
    switch (level) {
        case LcdLevel::Brightness:
            return main_cmd::kReadBrightness;
        case LcdLevel::Contrast:
            return main_cmd::kReadContrast;
        case LcdLevel::Saturation:
            return main_cmd::kReadSaturation;
    }
    return main_cmd::kReadBrightness;
}

// Each LCD level's set code is one below its read code.
std::uint8_t SetCode(LcdLevel level) { return ReadCode(level) - 1; }

void WriteLevel(SerialDevice& serial, Clock& clock, LcdLevel level, std::uint8_t value) {
    serial.Purge();
    Send(serial, BuildFrame(SerialUnit::Main, SetCode(level), value));
    clock.Sleep(Ms(30));
}

// IP, mask and gateway, each checked; false at the first reply that fails.
bool ReadAddresses(SerialDevice& serial, Clock& clock, NetworkReadListener& listener) {
    using Kind = NetworkReadListener::AddressKind;
    struct Step {
        std::uint8_t command;
        Kind kind;
    };
    constexpr Step kSteps[] = {{net_cmd::kReadIp, Kind::Ip},
                               {net_cmd::kReadMask, Kind::Mask},
                               {net_cmd::kReadGateway, Kind::Gateway}};
    for (const Step& step : kSteps) {
        Reply reply = Ask(serial, clock, BuildFrame(SerialUnit::Net, step.command), Ms(200),
                          kAddressReplyLength);
        std::optional<std::uint32_t> address =
            DecodeAddressReply(reply.bytes.data(), reply.received);
        if (!address) return false;
        listener.OnAddress(step.kind, *address);
    }
    return true;
}

}  // namespace

bool OpenSelectedPort(SerialDevice& serial, const std::int32_t* comPorts, std::int32_t count,
                      std::int32_t selection) {
    if (selection < 0 || selection >= count) return false;
    return serial.Open(static_cast<std::uint32_t>(comPorts[selection]), kPanelBaudRate,
                       ParityCode::None, 8, StopBitsCode::One, FlowControlCode::None,
                       false) != kInvalidPort;
}

void RunPlainCommand(SerialDevice& serial, const SerialFrame& frame) {
    Send(serial, frame);
    serial.Close();
}

void RunFactoryReset(SerialDevice& serial, Clock& clock) {
    serial.Purge();
    Send(serial, BuildFrame(SerialUnit::Main, main_cmd::kFactoryReset));
    clock.Sleep(Ms(30));
    serial.Close();
}

std::optional<std::uint8_t> RunVolumeStep(SerialDevice& serial, Clock& clock,
                                          StepDirection direction) {
    Send(serial,
         BuildFrame(SerialUnit::Main,
                    direction == StepDirection::Up ? main_cmd::kVolumeUp : main_cmd::kVolumeDown));
    clock.Sleep(Ms(30));
    Reply reply = Ask(serial, clock, BuildFrame(SerialUnit::Main, main_cmd::kReadVolume), Ms(30),
                      kLevelReplyLength);
    serial.Close();
    return DecodeLevelReply(reply.bytes.data(), reply.received);
}

std::optional<std::uint8_t> SteppedLevel(std::uint8_t level, StepDirection direction) {
    if (direction == StepDirection::Down) {
        if (level < 5) return std::nullopt;
        return static_cast<std::uint8_t>(level - 5);
    }
    if (level > 250) return std::nullopt;
    return static_cast<std::uint8_t>(level + 5);
}

LevelStepResult RunLevelStep(SerialDevice& serial, Clock& clock, LcdLevel level,
                             StepDirection direction) {
    LevelStepResult result;
    Reply reply = Ask(serial, clock, BuildFrame(SerialUnit::Main, ReadCode(level)), Ms(30),
                      kLevelReplyLength);
    result.read = DecodeLevelReply(reply.bytes.data(), reply.received);
    if (result.read) result.stepped = SteppedLevel(*result.read, direction);
    if (result.stepped) WriteLevel(serial, clock, level, *result.stepped);
    serial.Close();
    return result;
}

void RunLevelSet(SerialDevice& serial, Clock& clock, LcdLevel level, std::uint8_t value) {
    WriteLevel(serial, clock, level, value);
    serial.Close();
}

std::optional<SerialStatusBlock> RunStatusRead(SerialDevice& serial, Clock& clock) {
    Reply reply = Ask(serial, clock, BuildFrame(SerialUnit::Main, main_cmd::kReadStatus), Ms(50),
                      kStatusReplyLength);
    serial.Close();
    return DecodeStatusReply(reply.bytes.data(), reply.received);
}

bool RunNetworkRead(SerialDevice& serial, Clock& clock, NetworkReadVariant variant,
                    NetworkReadListener& listener) {
    const bool linkChoice = variant == NetworkReadVariant::LinkChoice;
    if (linkChoice) serial.Purge();
    Send(serial, BuildFrame(SerialUnit::Net, net_cmd::kReadMac));
    clock.Sleep(Ms(linkChoice ? 100 : 200));
    Reply macReply = ReadReply(serial, kMacReplyLength);
    std::optional<MacAddress> mac = DecodeMacReply(macReply.bytes.data(), macReply.received);
    if (!mac) return false;
    listener.OnMac(*mac);
    if (linkChoice) clock.Sleep(Ms(200));

    if (!ReadAddresses(serial, clock, listener)) return false;

    Reply modeReply = Ask(serial, clock, BuildFrame(SerialUnit::Net, net_cmd::kReadMode), Ms(200),
                          kModeReplyLength);
    std::optional<std::uint8_t> mode = DecodeModeReply(modeReply.bytes.data(), modeReply.received);
    if (mode) listener.OnMode(*mode);
    return true;
}

bool RunNetworkWrite(SerialDevice& serial, Clock& clock,
                     const std::optional<StaticAddresses>& addresses, std::uint8_t modeByte,
                     NetworkReadListener& listener) {
    if (addresses) {
        const std::pair<std::uint8_t, std::uint32_t> writes[] = {
            {net_cmd::kWriteIp, addresses->ip},
            {net_cmd::kWriteMask, addresses->mask},
            {net_cmd::kWriteGateway, addresses->gateway}};
        for (const auto& [command, address] : writes) {
            serial.Purge();
            Send(serial, BuildAddressFrame(SerialUnit::Net, command, address));
            clock.Sleep(Ms(200));
        }
    }
    serial.Purge();
    Send(serial, BuildFrame(SerialUnit::Net, net_cmd::kWriteMode, modeByte));
    clock.Sleep(Ms(6000));
    return ReadAddresses(serial, clock, listener);
}

FirmwareVersions RunVersionRead(SerialDevice& serial, Clock& clock) {
    FirmwareVersions versions;
    Reply mainReply = Ask(serial, clock, BuildFrame(SerialUnit::Main, main_cmd::kReadVersion),
                          Ms(200), kVersionReplyLength);
    versions.main = DecodeVersionReply(mainReply.bytes.data(), mainReply.received);
    if (versions.main) {
        clock.Sleep(Ms(500));
        Reply netReply = Ask(serial, clock, BuildFrame(SerialUnit::Net, net_cmd::kReadVersion),
                             Ms(200), kVersionReplyLength);
        versions.net = DecodeVersionReply(netReply.bytes.data(), netReply.received);
    }
    serial.Close();
    return versions;
}

void EnterLoader(SerialDevice& serial, Clock& clock) {
    Send(serial, BuildFrame(SerialUnit::Main, main_cmd::kEnterBootloader));
    clock.Sleep(Ms(3000));
    serial.Purge();
}

void WaitWhileStatusPoll(const std::uint8_t& serialState, Clock& clock) {
    while (serialState == kSerialPolling) clock.Sleep(Ms(30));
}

bool BeginStatusPoll(std::uint8_t& serialState) {
    if (serialState == kSerialCommand) return false;
    serialState = kSerialPolling;
    return true;
}

}  // namespace vantrel
