#include "gateway/cluster/etcd_json.h"

#include <charconv>
#include <string>

#include "gateway/cluster/base64.h"

namespace vantrel::gateway::cluster {

using nlohmann::json;

namespace {

std::optional<std::string> Bytes(const json& object, const char* name) {
    const auto it = object.find(name);
    if (it == object.end()) return std::string();
    if (!it->is_string()) return std::nullopt;
    return FromBase64(it->get<std::string>());
}

}  // namespace

bool Flag(const json& object, const char* name) {
    const auto it = object.find(name);
    return it != object.end() && it->is_boolean() && it->get<bool>();
}

std::string Text(const json& object, const char* name) {
    const auto it = object.find(name);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::optional<std::int64_t> Number(const json& object, const char* name) {
    const auto it = object.find(name);
    if (it == object.end()) return 0;
    if (it->is_number_integer()) return it->get<std::int64_t>();
    if (!it->is_string()) return std::nullopt;
    const std::string& text = it->get_ref<const std::string&>();
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::int64_t> Revision(const json& answer) {
    const auto header = answer.find("header");
    if (header == answer.end() || !header->is_object()) return std::nullopt;
    return Number(*header, "revision");
}

std::optional<KeyValue> ReadKeyValue(const json& item) {
    if (!item.is_object()) return std::nullopt;
    const auto key = Bytes(item, "key");
    const auto value = Bytes(item, "value");
    const auto modRevision = Number(item, "mod_revision");
    const auto lease = Number(item, "lease");
    if (!key || !value || !modRevision || !lease) return std::nullopt;
    return KeyValue{*key, *value, *modRevision, *lease};
}

}  // namespace vantrel::gateway::cluster
