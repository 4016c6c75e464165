#include <winsock2.h>

#include "cli/sockets.h"

namespace vantrel::cli {

// A failed start shows as every connection failing, which each unit then reports.
SocketsScope::SocketsScope() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

SocketsScope::~SocketsScope() { WSACleanup(); }

}  // namespace vantrel::cli
