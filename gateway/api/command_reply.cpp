#include "gateway/api/command_reply.h"

#include "clients/dotted_address.h"
#include "clients/report.h"

namespace vantrel::gateway {
namespace {

using nlohmann::json;

const char* ConfirmationId(Confirmation confirmation) {
    switch (confirmation) {
        case Confirmation::Confirmed:
            return "confirmed";
        case Confirmation::AtEnd:
            return "at-end";
        case Confirmation::Nearest:
            return "nearest";
        case Confirmation::SentUnreported:
            return "sent-unreported";
    }
    return "confirmed";
}

nlohmann::json NetworkJson(const NetworkSettings& n) {
    auto address = [](const std::optional<std::uint32_t>& a) {
        return a ? nlohmann::json(clients::Dotted(*a)) : nlohmann::json(nullptr);
    };
    nlohmann::json mode = nullptr;
    if (n.mode) mode = *n.mode == AddressMode::Dhcp ? 1 : 0;
    return {{"ip", address(n.ip)},
            {"mask", address(n.mask)},
            {"gateway", address(n.gateway)},
            {"dhcp", mode}};
}

// When it ran: confirmed, or what was missing.
Reply RanReply(const std::string& unit, const Result<Check>& result, const char* levelName) {
    const Check& check = result.Value();
    if (!result.Ok()) {
        return {502,
                {{"unit", unit},
                 {"done", false},
                 {"fault", FaultName(result.GetFault())},
                 {"shortfall", ShortfallText(check.shortfall)},
                 {"error", clients::FailureNote(result.GetFailure(), check.shortfall)}}};
    }
    json body{{"unit", unit},
              {"done", true},
              {"confirmation", ConfirmationId(check.confirmation)},
              {"note", clients::DoneNote(check, levelName)}};
    if (check.level) body["level"] = *check.level;
    if (check.network) body["network"] = NetworkJson(*check.network);
    if (check.address) body["address"] = clients::Dotted(*check.address);
    return {200, body};
}

Reply NotDone(int status, const std::string& unit, const std::string& error) {
    return {status, {{"unit", unit}, {"done", false}, {"error", error}}};
}

}  // namespace

Reply CommandReply(const CommandOutcome& outcome, const char* levelName) {
    const std::string& unit = outcome.unit;
    switch (outcome.state) {
        case CommandState::kRan:
            return RanReply(unit, outcome.result, levelName);
        case CommandState::kStillRunning: {
            Reply reply = NotDone(504, unit,
                                  "the unit is still working on the command; its outcome "
                                  "follows as an \"outcome\" event");
            reply.body["command"] = outcome.id;
            return reply;
        }
        case CommandState::kNotBegun:
            return NotDone(
                504, unit,
                "the unit did not take the command in time, as it was busy; nothing was sent");
        case CommandState::kLinkDown:
            return NotDone(503, unit, "the unit's link is down: " + outcome.why);
        case CommandState::kQueueFull: {
            Reply reply =
                NotDone(503, unit, "the unit has too many commands waiting; try again shortly");
            reply.headers.emplace_back("Retry-After", "2");
            return reply;
        }
        case CommandState::kStopped:
            return NotDone(503, unit, "the gateway is stopping");
        case CommandState::kUnrecorded:
            return NotDone(503, unit, outcome.why);
    }
    return NotDone(500, unit, "an outcome this gateway does not know");
}

OutcomeForm KeptAsReply(const char* levelName) {
    return [levelName](const CommandOutcome& outcome) {
        const Reply reply = CommandReply(outcome, levelName);
        return json{{"status", reply.status}, {"reply", reply.body}};
    };
}

Reply JobReply(const JobOutcome& outcome) {
    using State = JobOutcome::State;
    switch (outcome.state) {
        case State::kStarted:
            return {202, {{"job", outcome.job}}};
        case State::kFound:
            return {200, outcome.job};
        case State::kBadRequest:
            return ErrorReply(400, outcome.why);
        case State::kNoSuchUnit:
        case State::kNoSuchJob:
            return ErrorReply(404, outcome.why);
        case State::kUnitBusy:
            return ErrorReply(409, outcome.why);
        case State::kUnrecorded:
            return ErrorReply(503, outcome.why);
    }
    return ErrorReply(500, "an outcome this gateway does not know");
}

Reply ErrorReply(int status, const std::string& why) { return {status, {{"error", why}}}; }

// A name from the request that is not UTF-8 is echoed with replacement characters, never thrown.
HttpResponse ApiResponse(const Reply& reply) {
    HttpResponse response{reply.status, "application/json",
                          reply.body.dump(-1, ' ', false, json::error_handler_t::replace),
                          reply.headers, nullptr};
    response.headers.emplace_back("Cache-Control", "no-store");
    return response;
}

}  // namespace vantrel::gateway
