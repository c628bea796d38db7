#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ktutils::tool {

// A TCP endpoint as the command line gives it: HOST:PORT, with an IPv6
// address in brackets ([::1]:4000). The port may be 0 only where a listener
// is meant to pick one.
struct Endpoint {
    std::string host;
    uint16_t port = 0;
};

std::optional<Endpoint> ParseEndpoint(std::string_view text);

}  // namespace ktutils::tool
