// The links that watch another without changing it: the exchange log's and the gateway's note
// that a busy unit still answers. Both hear every exchange once, by name, with its outcome.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "clients/logged_link.h"
#include "gateway/fleet/answer_noting_link.h"
#include "tests/support/fake_unit_link.h"

namespace vantrel {
namespace watching_links_test {
namespace {

using testing::FakeUnitLink;

// Every call of the interface once, in its order.
void CallEverything(UnitLink& link) {
    const firmware::Image image{};
    const firmware::ProgressSink progress = [](const firmware::Progress&) {};
    (void)link.Open();
    (void)link.ReadStatus();
    (void)link.ReadNetwork();
    (void)link.ReadsVersions();
    (void)link.ReadVersions();
    (void)link.Press(*FindButton("mute"));
    (void)link.StepLevel(Level::Volume, StepDirection::Up);
    (void)link.CanSetLevel(Level::Volume);
    (void)link.SetLevel(Level::Volume, 3);  // the fake refuses it
    (void)link.ModeCarriesAddresses();
    (void)link.WriteNetwork(AddressMode::Static, Addresses{0x7F000009, 0xFF000000, 0x7F000001});
    (void)link.Reconnect(std::nullopt);
    (void)link.SendDefaultIp();
    (void)link.ReadAddress();
    (void)link.UpdateMainFirmware(image, progress);
    (void)link.HoldBreak();
    (void)link.UpdateNetFirmware(image, progress);
    link.Close();
}

TEST(WatchingLinksTest, TheLogHasALinePerCallWithItsOutcomeAndTheUnitGetsEveryCall) {
    std::vector<std::pair<std::string, std::string>> lines;
    auto recorder = std::make_unique<TrafficRecorder>(
        [&](const RecordedExchange& e) { lines.emplace_back(e.name, e.outcome); });
    auto fake = std::make_unique<FakeUnitLink>();
    FakeUnitLink& unit = *fake;
    clients::LoggedLink logged(std::move(recorder), nullptr, std::move(fake));
    CallEverything(logged);

    const std::vector<std::pair<std::string, std::string>> expected = {
        {"open", "done"},
        {"status", "done"},
        {"network read", "done"},
        {"versions", "done"},
        {"mute", "done"},
        {"level up", "done"},
        {"level set", FaultName(Fault::kNotOpened)},
        {"network write", "done"},
        {"reconnect", "done"},
        {"default ip", "done"},
        {"address read", "done"},
        {"firmware main", "done"},
        {"break", "done"},
        {"firmware net", "done"},
        {"close", "done"}};
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(unit.presses, 1);
    EXPECT_EQ(unit.steps, 1);
    ASSERT_EQ(unit.written.size(), 1u);
    EXPECT_EQ(unit.network.ip, 0x7F000009u);
    EXPECT_EQ(logged.ModeCarriesAddresses(), unit.ModeCarriesAddresses());
}

// Only what the unit answered counts: neither a failed exchange nor a close does.
TEST(WatchingLinksTest, AUnitCountsAsAnsweringForEachExchangeItAnswered) {
    FakeUnitLink unit;
    int answered = 0;
    gateway::AnswerNotingLink noting(unit, [&] { ++answered; });
    CallEverything(noting);
    EXPECT_EQ(answered, 13);  // 14 exchanges, one refused
    EXPECT_EQ(unit.presses, 1);

    answered = 0;
    unit.silent = true;
    EXPECT_FALSE(noting.ReadStatus().Ok());
    EXPECT_FALSE(noting.ReadNetwork().Ok());
    noting.Close();
    EXPECT_EQ(answered, 0);
}

}  // namespace
}  // namespace watching_links_test
}  // namespace vantrel
