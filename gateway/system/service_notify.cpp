#include "gateway/system/service_notify.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace vantrel::gateway {

ServiceNotifier::ServiceNotifier() {
    const char* name = std::getenv("NOTIFY_SOCKET");
    const std::size_t size = name ? std::strlen(name) : 0;
    if (size < 2 || size > sizeof m_address.sun_path || (name[0] != '/' && name[0] != '@')) {
        return;
    }
    m_address.sun_family = AF_UNIX;
    std::memcpy(m_address.sun_path, name, size);
    // An abstract name begins with a zero byte and is as long as given, with no end mark.
    if (name[0] == '@') m_address.sun_path[0] = '\0';
    m_length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + size);
    m_socket = UniqueFd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
}

void ServiceNotifier::Send(const char* state) const {
    if (!m_socket.Open()) return;
    // A lost notice costs systemd's own time limit at worst; the service goes on regardless.
    (void)sendto(m_socket.Get(), state, std::strlen(state), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&m_address), m_length);
}

}  // namespace vantrel::gateway
