// The three update procedures end to end against the simulated unit: the real POSIX SerialPort
// over the unit's pty, and TcpStream to its console on loopback. The clock is fake, so no
// pause is waited out; the unit's bootloaders check every packet and keep what they wrote.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <vector>

#include "presenters/firmware_ids.h"
#include "presenters/firmware_presenter.h"
#include "serial/com_ports.h"
#include "serial/serial_port.h"
#include "sim/firmware_commands.h"
#include "sim/serial_console.h"
#include "tests/support/fake_clock.h"
#include "tests/support/hex_text.h"
#include "tests/support/recording_firmware_view.h"
#include "tests/support/serial_unit_test.h"
#include "tests/support/simulated_unit.h"
#include "tests/support/temp_file.h"
#include "unit/tcp_stream.h"

namespace vantrel::firmware {
namespace firmware_sim_test {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::int32_t kComPort = 19;

Bytes RandomImage(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes image(size);
    for (std::uint8_t& byte : image) byte = static_cast<std::uint8_t>(random());
    return image;
}

using testing::HexOf;

class FirmwareSimTest : public testing::SerialUnitTest {
  protected:
    FirmwareSimTest() : SerialUnitTest(kComPort) { record.comPort = kComPort; }
    void Load(std::string& path, const std::string& bytes) {
        file.reset();
        file = std::make_unique<testing::TempFile>("sim-image", bytes);
        path = file->Path();
    }
    // The progress bar ended at the end of its range.
    void ExpectFullProgress() const {
        const auto ranges = view.Calls("range");
        const auto positions = view.Calls("pos");
        ASSERT_FALSE(ranges.empty());
        ASSERT_FALSE(positions.empty());
        EXPECT_GE(std::stoi(positions.back()), std::stoi(ranges.back()));
    }

    FirmwareRecord record;
    SerialPort port{[](const char*) {}};
    testing::FakeClock clock;
    testing::RecordingFirmwareView view;
    std::unique_ptr<testing::TempFile> file;
};

TEST_F(FirmwareSimTest, MainControllerTakesHexAndBinaryImagesOverTheComPort) {
    const Bytes hexImage = RandomImage(9000, 1);
    Load(record.mainFile, HexOf(hexImage));
    BurnMainSerial(record, port, clock, view);
    EXPECT_EQ(view.Text(kMainStatusText), "Firmware Updated!");
    EXPECT_EQ(unit.MainFlash(), hexImage);
    ExpectFullProgress();

    view.Clear();
    // On an update thread of the dialog's presenter, which the dialog can wait for.
    const Bytes binary = RandomImage(5001, 2);
    std::string path;
    Load(path, std::string(binary.begin(), binary.end()));
    int ran = 0;
    FirmwarePresenter presenter(port, view, clock, [&](const std::function<void()>& procedure) {
        procedure();
        ++ran;
    });
    presenter.Record().comPort = kComPort;
    ASSERT_TRUE(presenter.BurnMain(path));
    presenter.Join();
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(view.Text(kMainStatusText), "Firmware Updated!");
    EXPECT_EQ(unit.MainFlash(), binary);
    ExpectFullProgress();
    EXPECT_TRUE(log.Lines("loader-error").empty());
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(FirmwareSimTest, ARefusedChunkEndsTheUpdateUnwritten) {
    sim::SerialFaults faults;
    faults.loader.nakAt = 12;  // Ping, Download, then GetStatus and SendData per chunk: chunk 5
    console.reset();
    StartUnit(faults);
    Load(record.mainFile, std::string(2000, 'x'));
    BurnMainSerial(record, port, clock, view);
    EXPECT_EQ(view.Text(kMainStatusText), "Fail to write flash!");
    EXPECT_EQ(view.Calls("pos").back(), "4");
    EXPECT_TRUE(unit.MainFlash().empty());
}

TEST_F(FirmwareSimTest, NetControllerTakesAHexImageAfterBreakAndAPowerCycle) {
    const Bytes image = RandomImage(9000, 3);
    Load(record.netFile, HexOf(image));
    Break(record, port, view);
    ASSERT_TRUE(port.IsOpen());
    // The line is at 19200 baud: the net controller's bootloader starts.
    sim::ControlChannel control(unit);
    sim::AddFirmwareCommands(control, unit, *console);
    EXPECT_EQ(control.Execute("power-cycle"), "ok");
    record.netStop = 0;
    BurnNetSerial(record, port, clock, view);
    EXPECT_EQ(view.Text(kNetStatusText), "Firmware Updated!");
    EXPECT_TRUE(log.Lines("loader-error").empty());

    Bytes expected(sim::Unit::kNetFlashSize, 0xFF);
    std::copy(image.begin(), image.end(), expected.begin());
    std::copy(image.begin(), image.begin() + 4, expected.begin() + 0x1F7FC);
    expected[0] = 0x01;
    expected[1] = 0xEF;
    expected[2] = 0xFC;
    expected[3] = 0xF0;
    testing::TempFile flash("net-flash", "");
    EXPECT_EQ(control.Execute("flash net " + flash.Path()), "{\"bytes\":129024}");
    std::FILE* file = std::fopen(flash.Path().c_str(), "rb");
    ASSERT_NE(file, nullptr);
    Bytes written(expected.size() + 1);
    written.resize(std::fread(written.data(), 1, written.size(), file));
    std::fclose(file);
    EXPECT_EQ(written, expected);
    ExpectFullProgress();
    EXPECT_EQ(view.Calls("enable").back(), "1017");
}

// Logs into the console as the session does, so the update finds the stream it would find.
bool LogIn(ByteStream& stream) {
    auto awaitText = [&stream](const std::string& text) {
        std::string got;
        char part[256];
        while (got.find(text) == std::string::npos) {
            const int n = stream.Receive(part, sizeof part);
            if (n <= 0) return false;
            got.append(part, n);
        }
        return true;
    };
    return stream.Connect("127.0.0.71", 23) && awaitText("login: ") &&
           stream.Send("admin\r\n", 7) == 7 && awaitText("password: ") &&
           stream.Send("846\r\n", 5) == 5 && awaitText("Login OK\r\n");
}

TEST_F(FirmwareSimTest, MainControllerTakesHexAndBinaryImagesThroughTheConsole) {
    testing::SimulatedUnit sim("127.0.0.71");
    ASSERT_TRUE(sim.Start()) << sim.console.Error();
    std::atomic<std::int32_t> stop{0};
    TcpStream stream(stop, SystemClock::Instance());
    ASSERT_TRUE(LogIn(stream));
    record.stream = &stream;
    record.linkDown = 0;

    const Bytes hexImage = RandomImage(9000, 4);
    Load(record.mainFile, HexOf(hexImage));
    BurnMainEthernet(record, clock, view);
    EXPECT_EQ(view.Text(kMainStatusText), "Firmware Updated!");
    EXPECT_EQ(sim.unit.MainFlash(), hexImage);
    EXPECT_EQ(clock.Pauses(), (std::vector<long long>{3000, 200, 2000}));
    ExpectFullProgress();

    const Bytes binary = RandomImage(4001, 5);
    Load(record.mainFile, std::string(binary.begin(), binary.end()));
    BurnMainEthernet(record, clock, view);
    EXPECT_EQ(view.Text(kMainStatusText), "Firmware Updated!");
    EXPECT_EQ(sim.unit.MainFlash(), binary);
    EXPECT_TRUE(sim.log.Lines("loader-error").empty());
}

}  // namespace
}  // namespace firmware_sim_test
}  // namespace vantrel::firmware
