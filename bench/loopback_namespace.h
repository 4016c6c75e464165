#pragma once
// A network namespace of the benchmark's own that has only lo, so that nothing it starts (the
// units, the gateway, the clients) can reach or be reached from any other address.
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/bench_units.h"
#include "bench/http_wire.h"

namespace vantrel::bench {

/// Moves this process (and the children it starts from here on) into a new network namespace,
/// brings lo up and checks that lo is its only link. Needs root, and must come before any
/// thread or socket is made. False, with the reason in `why`, when any step fails.
inline bool EnterLoopbackNamespace(std::string& why) {
    if (unshare(CLONE_NEWNET) != 0) {
        why = std::string("cannot make a network namespace: ") + std::strerror(errno);
        return false;
    }
    Fd control(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    if (!control.Open() || ioctl(control.Get(), SIOCGIFFLAGS, &request) != 0) {
        why = std::string("cannot read lo's flags: ") + std::strerror(errno);
        return false;
    }
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    if (ioctl(control.Get(), SIOCSIFFLAGS, &request) != 0) {
        why = std::string("cannot bring lo up: ") + std::strerror(errno);
        return false;
    }
    struct if_nameindex* links = if_nameindex();
    if (!links) {
        why = std::string("cannot list the links: ") + std::strerror(errno);
        return false;
    }
    for (const struct if_nameindex* each = links; each->if_index != 0; ++each) {
        if (std::strcmp(each->if_name, "lo") != 0)
            why = std::string("a link other than lo: ") + each->if_name;
    }
    if_freenameindex(links);
    return why.empty();
}

/// What a benchmark of units and a gateway checks first: that it runs as root, in a loopback
/// namespace of its own (entered here), with room for 4096 open files. The status to exit
/// with, the reason printed after `program`; 0 when all is ready.
inline int EnterBenchRun(const char* program) {
    if (geteuid() != 0) {
        std::fprintf(stderr, "%s: needs root, for a network namespace of its own\n", program);
        return 2;
    }
    std::string why;
    if (!EnterLoopbackNamespace(why)) {
        std::fprintf(stderr, "%s: %s; refusing to run\n", program, why.c_str());
        return 1;
    }
    if (RaiseOpenFileLimit() < 4096) {
        std::fprintf(stderr, "%s: the open file limit is below 4096\n", program);
        return 1;
    }
    return 0;
}

}  // namespace vantrel::bench
