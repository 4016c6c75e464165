#pragma once

// Shared by the network sources only: the rest of the gateway never sees Asio.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <string>

#include "gateway/http_server.h"

namespace vantrel::gateway {

/// The HTTP server's event loop, which the gateway's other network services share.
boost::asio::io_context& LoopOf(HttpServer::Core& core);

/// Opens, binds and listens on a dotted IPv4 `host`, port 0 for any free one, with the kernel's
/// own most for the backlog, so that a burst waits in the queue rather than on a SYN sent again
/// a second later. False, with the reason in `error`, when it cannot.
bool OpenAcceptor(boost::asio::ip::tcp::acceptor& acceptor, const std::string& host, int port,
                  std::string& error);

}  // namespace vantrel::gateway
