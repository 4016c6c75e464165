#include "gateway/net/http_message.h"

#include <strings.h>

#include <algorithm>

namespace vantrel::gateway {
namespace {

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string HeaderValue(const HttpHeaders& headers, std::string_view name) {
    for (const auto& [key, value] : headers) {
        if (SameName(key, name)) return value;
    }
    return {};
}

std::string HttpRequest::Header(std::string_view name) const { return HeaderValue(headers, name); }

bool HttpRequest::HasHeader(std::string_view name) const {
    for (const auto& header : headers) {
        if (SameName(header.first, name)) return true;
    }
    return false;
}

std::string HttpRequest::Param(std::string_view name) const {
    std::string_view rest = query;
    while (!rest.empty()) {
        const std::string_view pair = rest.substr(0, rest.find('&'));
        rest.remove_prefix(std::min(rest.size(), pair.size() + 1));
        const auto equals = pair.find('=');
        if (PercentDecode(pair.substr(0, equals), true) == name) {
            return equals == pair.npos ? "" : PercentDecode(pair.substr(equals + 1), true);
        }
    }
    return {};
}

std::string PercentDecode(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int high = i + 2 < text.size() && text[i] == '%' ? HexDigit(text[i + 1]) : -1;
        const int low = high >= 0 ? HexDigit(text[i + 2]) : -1;
        if (low >= 0) {
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            out.push_back(plusIsSpace && text[i] == '+' ? ' ' : text[i]);
        }
    }
    return out;
}

}  // namespace vantrel::gateway
