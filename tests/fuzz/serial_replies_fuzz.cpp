// The serial reply decoders, and the panel's exchanges against a port whose unit is played by
// the fuzz input. The input is a sequence of steps: one byte chooses the step (its value
// modulo the number of steps), the bytes after it are the step's arguments, then the chunks
// of its replies (see FuzzedSerial). The decode step is a length byte and that many bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "unit/serial_exchanges.h"
#include "unit/serial_frames.h"
#include "serial/com_ports.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/fuzzed_serial.h"
#include "tests/support/fake_clock.h"

namespace vantrel::fuzzing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Reply = FuzzedSerial::Reply;

bool Full(const Reply& read) { return read.bytes.size() == read.asked; }
bool Headed(const Reply& read) {
    return read.bytes.size() >= 2 && read.bytes[0] == 0xAA && read.bytes[1] == 0xCC;
}
// A checked reply as the decoders must judge it: all of it arrived, AA CC first.
bool Passes(const Reply& read) { return Full(read) && Headed(read); }
bool Same(const std::uint8_t* a, const std::uint8_t* b, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}
std::uint32_t AddressOf(const Bytes& b) {
    return std::uint32_t{b[2]} << 24 | std::uint32_t{b[3]} << 16 | std::uint32_t{b[4]} << 8 | b[5];
}

// Every decoder on a buffer of exactly the received length, so that a look past it is a
// heap overflow, each held to what its reply means.
void Decode(FuzzInput& input) {
    const std::size_t size = input.ByteOr(0);
    std::unique_ptr<std::uint8_t[]> reply(new std::uint8_t[size]);
    const std::size_t n = input.Take(reply.get(), size);
    const std::uint8_t* r = reply.get();
    const bool headed = n >= 2 && r[0] == 0xAA && r[1] == 0xCC;

    std::optional<std::uint8_t> level = DecodeLevelReply(r, n);
    Require(level.has_value() == (n >= 3) && (!level || *level == r[2]), "level reply: byte 2");
    std::optional<std::uint8_t> mode = DecodeModeReply(r, n);
    Require(mode.has_value() == (n >= 3) && (!mode || *mode == r[2]), "mode reply: byte 2");
    std::optional<StatusBlock> status = DecodeStatusReply(r, n);
    Require(
        status.has_value() == (n >= 11 && headed) && (!status || Same(status->data(), r + 2, 9)),
        "status reply: AA CC and nine state bytes");
    std::optional<MacAddress> mac = DecodeMacReply(r, n);
    Require(mac.has_value() == (n >= 8 && headed) && (!mac || Same(mac->data(), r + 2, 6)),
            "MAC reply: AA CC and six bytes");
    std::optional<std::uint32_t> address = DecodeAddressReply(r, n);
    Require(address.has_value() == (n >= 6 && headed) &&
                (!address || *address == AddressOf(Bytes(r, r + 6))),
            "address reply: AA CC and four octets, first on top");
    std::optional<FirmwareVersion> version = DecodeVersionReply(r, n);
    Require(version.has_value() == (n >= 4 && r[0] == 0xAA) &&
                (!version || (version->major == r[2] && version->minor == r[3])),
            "version reply: AA, one byte, major, minor");
}

// The addresses a network read or write brought, in the order they are read.
std::vector<std::uint32_t> AddressesOf(const NetworkSettings& settings) {
    std::vector<std::uint32_t> addresses;
    for (const std::optional<std::uint32_t>& a : {settings.ip, settings.mask, settings.gateway}) {
        if (a) addresses.push_back(*a);
    }
    return addresses;
}

// The addresses of a network read or write, from reads[first] on: every one that passed was
// reported, the first that failed was the last read, and the result says whether all passed.
bool CheckAddresses(const std::vector<Reply>& reads, std::size_t first,
                    const NetworkSettings& settings) {
    const std::vector<std::uint32_t> addresses = AddressesOf(settings);
    for (std::size_t i = 0; i < 3; ++i) {
        Require(first + i < reads.size(), "an address is read while the replies pass");
        const Reply& read = reads[first + i];
        if (!Passes(read)) {
            Require(reads.size() == first + i + 1, "nothing is read after a failed check");
            Require(addresses.size() == i, "a failed address is not reported");
            return false;
        }
        Require(addresses.size() > i && addresses[i] == AddressOf(read.bytes),
                "each address that passed is reported as it came");
    }
    return true;
}

void NetworkRead(FuzzedSerial& serial, Clock& clock, FuzzInput& input) {
    const auto variant =
        input.ByteOr(0) % 2 == 0 ? NetworkReadVariant::ReadButton : NetworkReadVariant::LinkChoice;
    const Result<NetworkSettings> read = RunNetworkRead(serial, clock, variant);
    const bool ok = read.Ok();
    const NetworkSettings& settings = read.Value();
    const std::vector<Reply>& reads = serial.Replies();
    Require(!reads.empty(), "the MAC is read");
    bool expected = Passes(reads[0]);
    Require(settings.mac.has_value() == expected &&
                (!expected || Same(settings.mac->data(), reads[0].bytes.data() + 2, 6)),
            "the MAC is reported when it passed, as it came");
    if (!expected) Require(reads.size() == 1, "nothing is read after a failed MAC");
    if (expected) expected = CheckAddresses(reads, 1, settings);
    if (expected) {
        Require(reads.size() == 5, "the mode is read after the addresses");
        const bool modeCame = Full(reads[4]) && reads[4].bytes[2] <= 1;
        Require(settings.mode.has_value() == modeCame &&
                    (!modeCame || *settings.mode == (reads[4].bytes[2] == 0 ? AddressMode::Static
                                                                            : AddressMode::Dhcp)),
                "the mode is reported, without a header check, when it came in full as 0 or 1");
    }
    Require(ok == expected, "the network read succeeds when every checked reply passed");
    Require(serial.IsOpen(), "the network read leaves the port open");
}

void NetworkWrite(FuzzedSerial& serial, Clock& clock, FuzzInput& input) {
    std::optional<Addresses> addresses;
    if (input.ByteOr(0) % 2 == 0) addresses = Addresses{input.Word(), input.Word(), input.Word()};
    const bool dhcp = input.ByteOr(0) % 2 == 1;
    const std::uint8_t modeByte = dhcp ? 1 : 0;
    const Result<NetworkSettings> written =
        RunNetworkWrite(serial, clock, addresses, dhcp ? AddressMode::Dhcp : AddressMode::Static);
    Require(written.Ok() == CheckAddresses(serial.Replies(), 0, written.Value()),
            "the network write succeeds when the three addresses came back");
    const std::size_t modeFrame = addresses ? 3 : 0;
    Require(serial.Writes().size() > modeFrame && serial.Writes()[modeFrame][4] == modeByte,
            "the mode frame carries the mode byte");
    Require(serial.IsOpen(), "the network write leaves the port open");
}

void VolumeStep(FuzzedSerial& serial, Clock& clock, FuzzInput& input) {
    const auto direction = input.ByteOr(0) % 2 == 0 ? StepDirection::Down : StepDirection::Up;
    const Result<std::uint8_t> level = RunVolumeStep(serial, clock, direction);
    const Reply& read = serial.Replies().at(0);
    Require(level.Ok() == Full(read) && (!level.Ok() || level.Value() == read.bytes[2]),
            "the volume is byte 2 of a reply that came in full");
    Require(!serial.IsOpen(), "the volume step closes the port");
}

void LcdLevelStep(FuzzedSerial& serial, Clock& clock, FuzzInput& input) {
    const std::uint8_t choice = input.ByteOr(0);
    const auto level = static_cast<Level>(1 + choice % 3);
    const auto direction = choice / 3 % 2 == 0 ? StepDirection::Down : StepDirection::Up;
    const Result<LevelStep> step = RunLevelStep(serial, clock, level, direction);
    const LevelStep& result = step.Value();
    const Reply& read = serial.Replies().at(0);
    Require(
        result.read.has_value() == Full(read) && (!result.read || *result.read == read.bytes[2]),
        "the LCD level is byte 2 of a reply that came in full");
    Require(result.stepped == (result.read ? SteppedLevel(*result.read, direction) : std::nullopt),
            "a step is made only from a level read, and only within 0 to 255");
    const std::vector<Bytes>& writes = serial.Writes();
    Require(writes.size() == (result.stepped ? 2u : 1u), "one read frame, one set frame at most");
    if (result.stepped) Require(writes[1][4] == *result.stepped, "the set frame carries the step");
    Require(!serial.IsOpen(), "the level step closes the port");
}

void StatusRead(FuzzedSerial& serial, Clock& clock) {
    const Result<StatusBlock> block = RunStatusRead(serial, clock);
    const Reply& read = serial.Replies().at(0);
    Require(block.Ok() == Passes(read) &&
                (!block.Ok() || Same(block.Value().data(), read.bytes.data() + 2, 9)),
            "the status block is taken only from a full reply with AA CC");
    Require(!serial.IsOpen(), "the status read closes the port");
}

void VersionRead(FuzzedSerial& serial, Clock& clock) {
    const FirmwareVersions versions = RunVersionRead(serial, clock).Value();
    const std::vector<Reply>& reads = serial.Replies();
    auto passes = [](const Reply& read) { return Full(read) && read.bytes[0] == 0xAA; };
    Require(versions.main.has_value() == passes(reads.at(0)), "the main version needs AA");
    Require(reads.size() == (versions.main ? 2u : 1u), "the net version only after the main one");
    if (versions.main)
        Require(versions.net.has_value() == passes(reads[1]), "the net version needs AA");
    Require(!serial.IsOpen(), "the version read closes the port");
}

void OpenPort(FuzzedSerial& serial, FuzzInput& input) {
    std::unique_ptr<std::int32_t[]> ports(new std::int32_t[kMaxComPorts]);
    for (std::int32_t i = 0; i < kMaxComPorts; ++i) ports[i] = 1 + i;
    const std::int32_t count = input.ByteOr(0) % (kMaxComPorts + 1);
    const auto selection = static_cast<std::int32_t>(input.Word());
    const bool opened = OpenSelectedPort(serial, ports.get(), count, selection);
    Require(opened == (selection >= 0 && selection < count), "only a listed port is opened");
    if (opened)
        Require(serial.OpenedPort() == static_cast<std::uint32_t>(ports[selection]),
                "the selected port is the one opened");
    serial.Close();
}

void Step(std::uint8_t choice, FuzzedSerial& serial, Clock& clock, FuzzInput& input) {
    constexpr int kSteps = 11;
    serial.ClearRecord();
    if (choice % kSteps == 0) return Decode(input);
    if (choice % kSteps == 10) return OpenPort(serial, input);
    serial.Open(1, kPanelBaudRate, ParityCode::None, 8, StopBitsCode::One, FlowControlCode::None,
                false);
    switch (choice % kSteps) {
        case 1:
            VolumeStep(serial, clock, input);
            break;
        case 2:
            LcdLevelStep(serial, clock, input);
            break;
        case 3:
            StatusRead(serial, clock);
            break;
        case 4:
            NetworkRead(serial, clock, input);
            break;
        case 5:
            NetworkWrite(serial, clock, input);
            break;
        case 6:
            VersionRead(serial, clock);
            break;
        case 7:
            RunFactoryReset(serial, clock);
            break;
        case 8:
            RunPlainCommand(serial, BuildFrame(SerialUnit::Main, input.ByteOr(0)));
            break;
        case 9:
            EnterLoader(serial, clock);
            Require(serial.IsOpen(), "the loader entry leaves the port open");
            break;
    }
    serial.Close();
}

}  // namespace
}  // namespace vantrel::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vantrel::fuzzing::FuzzInput input(data, size);
    vantrel::fuzzing::FuzzedSerial serial(input);
    vantrel::testing::FakeClock clock;
    while (std::optional<std::uint8_t> choice = input.Byte()) {
        vantrel::fuzzing::Step(*choice, serial, clock, input);
    }
    return 0;
}
