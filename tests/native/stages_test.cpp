// The one rule by which the tool's fleet and the gateway's firmware jobs start their units.
#include "clients/stages.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace stages_test {
namespace {

using clients::Stages;

TEST(StagesTest, CanaryUnitsGoFirstAndTheMostFailuresStopTheStarts) {
    EXPECT_EQ(Stages{}.FirstStage(5), 5u);  // no canary: all at once
    EXPECT_EQ((Stages{2, {}}.FirstStage(5)), 2u);
    EXPECT_EQ((Stages{9, {}}.FirstStage(5)), 5u);  // more canaries than units
    EXPECT_TRUE(Stages::RestBegins(0));
    EXPECT_FALSE(Stages::RestBegins(1));

    EXPECT_TRUE(Stages{}.Begins(1000));  // no limit
    const Stages two{0, 2};
    EXPECT_TRUE(two.Begins(1));
    EXPECT_FALSE(two.Begins(2));
    // The gateway takes a limit of 0 as given: no unit begins.
    EXPECT_FALSE((Stages{0, 0}).Begins(0));
}

}  // namespace
}  // namespace stages_test
}  // namespace vantrel
