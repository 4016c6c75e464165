#include "gateway/access/tokens.h"

#include <map>
#include <set>
#include <sstream>

#include "gateway/access/access.h"
#include "gateway/system/owner_only_file.h"

namespace vantrel::gateway {
namespace {

std::optional<Role> ParseRole(const std::string& name) {
    if (name == "viewer") return Role::kViewer;
    if (name == "operator") return Role::kOperator;
    if (name == "admin") return Role::kAdmin;
    return std::nullopt;
}

}  // namespace

const char* RoleName(Role role) {
    switch (role) {
        case Role::kViewer:
            return "viewer";
        case Role::kOperator:
            return "operator";
        case Role::kAdmin:
            return "admin";
    }
    return "viewer";
}

void Tokens::SetSingle(const std::string& token) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries = {{{"admin", Role::kAdmin}, token}};
}

bool Tokens::Load(const std::string& path, std::string& why) {
    const std::optional<std::string> text = ReadOwnerOnly(path, why);
    if (!text) return false;
    std::vector<Entry> entries;
    std::set<std::string> names;
    std::map<std::string, int> tokenLines;
    std::istringstream in(*text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        // A # begins a comment only as a line's first field or after the token: anywhere else
        // it is part of a field, as a token may hold one.
        std::istringstream fields(line);
        std::string name, role, token, extra;
        if (!(fields >> name) || name[0] == '#') continue;
        const std::optional<Role> parsed = fields >> role ? ParseRole(role) : std::nullopt;
        if (!parsed || !(fields >> token) || (fields >> extra && extra[0] != '#')) {
            why = where + "not NAME viewer|operator|admin TOKEN";
            return false;
        }
        if (!names.insert(name).second) {
            why = where + "the name " + name + " is given twice";
            return false;
        }
        if (token.size() < kShortestToken) {
            why = where + "the token is shorter than " + std::to_string(kShortestToken) +
                  " characters";
            return false;
        }
        // One token under two names would be credited to the first: whose it is is unclear.
        if (const auto given = tokenLines.emplace(token, number); !given.second) {
            why = where + "the token of " + name + " is given on line " +
                  std::to_string(given.first->second) + " already";
            return false;
        }
        entries.push_back({{name, *parsed}, token});
    }
    // No token would open the gateway to everyone as an admin.
    if (entries.empty()) {
        why = path + " holds no token";
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries = std::move(entries);
    m_path = path;
    return true;
}

bool Tokens::Reload(std::string& why) {
    std::string path;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        path = m_path;
    }
    if (path.empty()) {
        why = "no tokens file to read again";
        return false;
    }
    return Load(path, why);
}

bool Tokens::Empty() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.empty();
}

std::optional<Identity> Tokens::Find(const std::string& authorization) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Entry& entry : m_entries) {
        if (Authorized(authorization, entry.token)) return entry.identity;
    }
    return std::nullopt;
}

}  // namespace vantrel::gateway
