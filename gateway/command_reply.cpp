#include "gateway/command_reply.h"

#include "clients/dotted_address.h"
#include "clients/report.h"

namespace vantrel::gateway {
namespace {

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

}  // namespace

Reply CheckReply(const std::string& unit, const Result<Check>& result, const char* levelName) {
    const Check& check = result.Value();
    if (!result.Ok()) {
        return {502,
                {{"unit", unit},
                 {"done", false},
                 {"fault", FaultName(result.GetFault())},
                 {"shortfall", ShortfallText(check.shortfall)},
                 {"error", clients::FailureNote(result.GetFailure(), check.shortfall)}}};
    }
    nlohmann::json body{{"unit", unit},
                        {"done", true},
                        {"confirmation", ConfirmationId(check.confirmation)},
                        {"note", clients::DoneNote(check, levelName)}};
    if (check.level) body["level"] = *check.level;
    if (check.network) body["network"] = NetworkJson(*check.network);
    if (check.address) body["address"] = clients::Dotted(*check.address);
    return {200, body};
}

Reply LinkDownReply(const std::string& unit, const std::string& reason) {
    return {503,
            {{"unit", unit}, {"done", false}, {"error", "the unit's link is down: " + reason}}};
}

Reply DroppedReply(const std::string& unit, CommandEnd end, const std::string& linkReason) {
    if (end == CommandEnd::kExpired) {
        return {504,
                {{"unit", unit},
                 {"done", false},
                 {"error",
                  "the unit did not take the command in time, as it was busy; nothing was sent"}}};
    }
    if (end == CommandEnd::kStopping) {
        return {503, {{"unit", unit}, {"done", false}, {"error", "the gateway is stopping"}}};
    }
    return LinkDownReply(unit, linkReason);
}

Reply UnrecordedReply(const std::string& unit, const std::string& why) {
    return {503, {{"unit", unit}, {"done", false}, {"error", why}}};
}

Reply QueueFullReply(const std::string& unit) {
    return {503,
            {{"unit", unit},
             {"done", false},
             {"error", "the unit has too many commands waiting; try again shortly"}},
            {{"Retry-After", "2"}}};
}

Reply StillRunningReply(const std::string& unit, const std::string& id) {
    return {504,
            {{"unit", unit},
             {"done", false},
             {"command", id},
             {"error",
              "the unit is still working on the command; its outcome follows as an "
              "\"outcome\" event"}}};
}

Reply ErrorReply(int status, const std::string& why) { return {status, {{"error", why}}}; }

}  // namespace vantrel::gateway
