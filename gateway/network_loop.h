#pragma once

// Shared by the network sources only: the rest of the gateway never sees Asio.
#include <boost/asio/io_context.hpp>

#include "gateway/http_server.h"

namespace vantrel::gateway {

/// The HTTP server's event loop, which the gateway's other network services share.
boost::asio::io_context& LoopOf(HttpServer::Core& core);

}  // namespace vantrel::gateway
