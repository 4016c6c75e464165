#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <httplib.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <string>

namespace vantrel::testing {

/// Records one response the tests saw, as a JSON line in the file VANTREL_API_RESPONSES names,
/// so that the kit can check it against the API document; nothing when it is unset. Only a JSON
/// body is kept: the document describes no other. One write a line, so that lines from threads
/// and processes do not interleave.
inline void RecordApiResponse(const std::string& method, const std::string& target, int status,
                              const std::string& contentType, const std::string& body) {
    const char* file = std::getenv("VANTREL_API_RESPONSES");
    if (!file || !*file) return;
    nlohmann::json line{{"method", method},
                        {"path", target.substr(0, target.find('?'))},
                        {"status", status},
                        {"contentType", contentType}};
    if (contentType.rfind("application/json", 0) == 0) line["body"] = body;
    const std::string text =
        line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    const int fd = open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const ssize_t written = write(fd, text.data(), text.size());
    static_cast<void>(written);
    close(fd);
}

/// Has `client` record every response it gets.
template <typename Client>
Client& Recording(Client& client) {
    client.set_logger([](const httplib::Request& request, const httplib::Response& response) {
        RecordApiResponse(request.method, request.path, response.status,
                          response.get_header_value("Content-Type"), response.body);
    });
    return client;
}

}  // namespace vantrel::testing
