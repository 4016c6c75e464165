#pragma once

#include <cstddef>

namespace vantrel::gateway {

/// One file of the page, built into the program from gateway/web.
struct WebAsset {
    const char* path;  // as requested: "/index.html"
    const char* contentType;
    const unsigned char* data;
    std::size_t size;
};

/// The file served at `path` ("/" is the index); nullptr when there is none.
const WebAsset* FindWebAsset(const char* path);
/// The API's own description, from gateway/api_doc: "/api/openapi.json"; nullptr for others.
const WebAsset* FindApiDocument(const char* path);

}  // namespace vantrel::gateway
