// The values a command or a firmware job comes to, as the HTTP edge and the metrics each say
// them: two tables of one fact, which must agree for every value, including those that the
// HTTP-level tests cannot bring about on demand.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "gateway/metrics/command_counts.h"
#include "gateway/api/command_reply.h"
#include "gateway/fleet/unit_json.h"

namespace vantrel::gateway {
namespace gateway_outcome_edges_test {
namespace {

TEST(GatewayOutcomeEdgesTest, EveryCommandOutcomeIsAnsweredWithTheStatusItIsCountedBy) {
    const std::map<std::string, int> statusOf{
        {"done", 200}, {"failed", 502}, {"unavailable", 503}, {"timed_out", 504}};
    for (int state = 0; state <= static_cast<int>(CommandState::kUnrecorded); ++state) {
        for (const bool confirmed : {true, false}) {
            const Result<Check> result =
                confirmed ? Result<Check>(Check{}) : Result<Check>(Failure{Fault::kBadReply});
            const CommandOutcome outcome{
                static_cast<CommandState>(state), result, "127.0.60.1", "why", "7", {}, {}};
            const Reply reply = CommandReply(outcome);
            SCOPED_TRACE(reply.body.dump());
            ASSERT_EQ(statusOf.count(CountedAs(outcome)), 1u);
            EXPECT_EQ(reply.status, statusOf.at(CountedAs(outcome)));
            EXPECT_EQ(reply.body["unit"], "127.0.60.1");
            EXPECT_EQ(reply.body["done"], outcome.Done());
            EXPECT_EQ(reply.body.contains("error"), !outcome.Done());
        }
    }
}

// The client that was answered "still running" finds the late outcome by the id it was given.
TEST(GatewayOutcomeEdgesTest, ALateOutcomeIsKeptAsItsReplyUnderTheIdItsAskerWasGiven) {
    const CommandOutcome running{CommandState::kStillRunning, {}, "u", "", "7", {}, {}};
    EXPECT_EQ(CommandReply(running).body["command"], "7");
    const CommandOutcome ran{CommandState::kRan, Result<Check>(Check{}), "u", "", "7", {}, {}};
    const nlohmann::json event =
        nlohmann::json::parse(OutcomeEventData("7", KeptAsReply("volume")(ran)));
    EXPECT_EQ(event["command"], "7");
    EXPECT_EQ(event["status"], 200);
    EXPECT_EQ(event["reply"], CommandReply(ran, "volume").body);
}

TEST(GatewayOutcomeEdgesTest, EveryJobOutcomeHasItsOwnStatusAndEveryUpdateStateItsOwnName) {
    std::set<int> statuses;
    for (int state = 0; state <= static_cast<int>(JobOutcome::State::kUnrecorded); ++state) {
        const auto which = static_cast<JobOutcome::State>(state);
        const Reply reply = JobReply({which, "1", "why"});
        // Both "no such" outcomes are 404s; every other has a status of its own.
        if (which != JobOutcome::State::kNoSuchJob) {
            EXPECT_TRUE(statuses.insert(reply.status).second);
        }
        EXPECT_NE(reply.status, 500);
    }
    std::set<std::string> names;
    for (int state = 0; state <= static_cast<int>(UpdateState::kInterrupted); ++state) {
        const auto which = static_cast<UpdateState>(state);
        EXPECT_TRUE(names.insert(UpdateStateName(which)).second);
        // Another gateway reads each state back from the job its owner published.
        EXPECT_EQ(UpdateStateOf(UpdateStateName(which)), which);
    }
    EXPECT_FALSE(UpdateStateOf("finished"));
}

}  // namespace
}  // namespace gateway_outcome_edges_test
}  // namespace vantrel::gateway
