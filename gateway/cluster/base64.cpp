#include "gateway/cluster/base64.h"

#include <openssl/evp.h>

namespace vantrel::gateway::cluster {

std::string Base64(const std::string& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                        reinterpret_cast<const unsigned char*>(bytes.data()),
                                        static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(written));
    return text;
}

std::optional<std::string> FromBase64(const std::string& text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string bytes(3 * text.size() / 4 + 1, '\0');
    const int written = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                        reinterpret_cast<const unsigned char*>(text.data()),
                                        static_cast<int>(text.size()));
    if (written < 0) return std::nullopt;
    // The block decoder counts the padding's bytes as zeros.
    std::size_t size = static_cast<std::size_t>(written);
    for (auto it = text.rbegin(); it != text.rend() && *it == '=' && size > 0; ++it) --size;
    bytes.resize(size);
    return bytes;
}

}  // namespace vantrel::gateway::cluster
