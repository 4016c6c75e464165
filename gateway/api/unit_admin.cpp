#include "gateway/api/unit_admin.h"

namespace vantrel::gateway {
namespace {

using nlohmann::json;

// "name": text, or null or "" for none; the units file checks what it holds.
bool NameOf(const json& body, std::optional<std::string>& name) {
    if (!body.contains("name")) return true;
    const json& given = body["name"];
    if (given.is_null()) name = "";
    if (given.is_string()) name = given.get<std::string>();
    return name.has_value();
}

bool LabelsOf(const json& given, groups::Labels& labels) {
    if (!given.is_object()) return false;
    for (const auto& [key, value] : given.items()) {
        if (!value.is_string()) return false;
        labels.emplace_back(key, value.get<std::string>());
    }
    return true;
}

}  // namespace

groups::Checked<groups::UnitEntry, std::string> UnitOfBody(const json& body) {
    const json unit = body.value("unit", json());
    std::optional<std::string> name;
    groups::Labels labels;
    if (!unit.is_string() || !NameOf(body, name) ||
        (body.contains("labels") && !LabelsOf(body["labels"], labels))) {
        return std::string(
            "give {\"unit\": \"A.B.C.D\" or \"/dev/ttyUSB0\", \"name\"?: text, \"labels\"?: "
            "{\"key\": \"value\"}}");
    }
    return groups::UnitEntry{unit.get<std::string>(), name.value_or(""), std::move(labels)};
}

groups::Checked<NamingBody, std::string> NamingOfBody(const json& body) {
    NamingBody naming;
    if (!NameOf(body, naming.name) || !body.contains("labels") ||
        !LabelsOf(body["labels"], naming.labels)) {
        return std::string("give {\"name\"?: text, \"labels\": {\"key\": \"value\"}}");
    }
    return naming;
}

Reply RosterReply(const RosterOutcome& outcome, const std::function<Reply()>& done) {
    switch (outcome.fault) {
        case RosterFault::kNone:
            return done();
        case RosterFault::kBadEntry:
            return ErrorReply(400, outcome.why);
        case RosterFault::kNoSuchUnit:
            return ErrorReply(404, outcome.why);
        case RosterFault::kNotKept:
        case RosterFault::kExists:
        case RosterFault::kUpdating:
            return ErrorReply(409, outcome.why);
        case RosterFault::kUnrecorded:
        case RosterFault::kNotStored:
            break;
    }
    return ErrorReply(503, outcome.why);
}

}  // namespace vantrel::gateway
