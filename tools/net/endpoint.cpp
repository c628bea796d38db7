#include "tools/net/endpoint.h"

#include <charconv>

namespace ktutils::tool {

std::optional<Endpoint> ParseEndpoint(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view host = text.substr(0, colon);
    const std::string_view port = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
        return std::nullopt;  // an IPv6 address without brackets is ambiguous
    }
    if (host.empty() || port.empty()) return std::nullopt;
    unsigned value = 0;
    const auto [stop, error] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (error != std::errc() || stop != port.data() + port.size() || value > 65535) {
        return std::nullopt;
    }
    return Endpoint{std::string(host), static_cast<uint16_t>(value)};
}

}  // namespace ktutils::tool
