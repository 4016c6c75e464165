// The levels' names, spelled once: the API, the tool, the metrics and the Ember+ tree all name
// them from the one table, as they did before it was one.
#include "clients/level_names.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iterator>
#include <string>

#include "gateway/emberplus/ember_tree.h"
#include "gateway/metrics/metrics.h"

namespace vantrel {
namespace level_names_test {
namespace {

TEST(LevelNamesTest, EveryClientSpellsTheLevelsAsTheApiDoes) {
    const char* const api[] = {"volume", "lcd-brightness", "lcd-contrast", "lcd-saturation"};
    const char* const metrics[] = {"volume", "lcd_brightness", "lcd_contrast", "lcd_saturation"};
    EXPECT_EQ(clients::LevelNameList(), "volume, lcd-brightness, lcd-contrast, lcd-saturation");

    gateway::UnitSnapshot unit;
    unit.unit = "u";
    unit.link = gateway::LinkState::Up;
    unit.reading = UnitReading{};
    const std::string text = gateway::MetricsText({unit}, std::chrono::steady_clock::now());
    for (std::size_t i = 0; i < std::size(api); ++i) {
        const Level level = clients::kAllLevels[i];
        SCOPED_TRACE(api[i]);
        EXPECT_STREQ(clients::NameOf(level), api[i]);
        ASSERT_NE(clients::FindLevel(api[i]), nullptr);
        EXPECT_EQ(*clients::FindLevel(api[i]), level);
        EXPECT_STREQ(gateway::ember_tree::ParameterName(gateway::ember_tree::kVolume +
                                                        static_cast<std::uint32_t>(level)),
                     api[i]);
        EXPECT_NE(text.find(std::string("vantrel_level{unit=\"u\",level=\"") + metrics[i] + "\"} "),
                  std::string::npos)
            << text;
    }
    EXPECT_EQ(clients::FindLevel("lcd_brightness"), nullptr);
}

}  // namespace
}  // namespace level_names_test
}  // namespace vantrel
