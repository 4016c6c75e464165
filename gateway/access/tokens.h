#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::gateway {

/// What a token may do: a viewer reads, an operator also presses buttons and moves levels, an
/// admin does everything.
enum class Role : std::uint8_t { kViewer, kOperator, kAdmin };
const char* RoleName(Role role);

/// Who sent a request: the name of the token it carried, and its role.
struct Identity {
    std::string name;
    Role role = Role::kViewer;
};

/// The tokens the gateway takes. A tokens file holds `NAME ROLE TOKEN` a line; a line whose
/// first field begins with `#` is a comment, and so is what follows the token after a blank and
/// `#`. It is read whole or not at all, so a reload with a mistake keeps the tokens in force.
class Tokens {
  public:
    struct Entry {
        Identity identity;
        std::string token;
    };

    /// One admin token named "admin" (--token-file).
    void SetSingle(const std::string& token);
    /// Reads the tokens file; false, with the reason in `why` (the file and line) and the tokens
    /// unchanged, when ReadOwnerOnly refuses the file, a line is not `NAME ROLE TOKEN`, a name
    /// or a token is given twice, a token is shorter than kShortestToken, or there is no token.
    bool Load(const std::string& path, std::string& why);
    /// Reads the file Load last read again.
    bool Reload(std::string& why);
    bool Empty() const;
    /// The holder of the token an Authorization header carries; none for no or a wrong token.
    std::optional<Identity> Find(const std::string& authorization) const;

  private:
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
    std::string m_path;
};

}  // namespace vantrel::gateway
