#include "cli/sockets.h"

namespace vantrel::cli {

SocketsScope::SocketsScope() = default;
SocketsScope::~SocketsScope() = default;

}  // namespace vantrel::cli
