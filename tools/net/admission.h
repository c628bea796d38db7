#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ktutils/protocol/ktu_records.h"

// How the reference server answers a connect request: a pure function of its
// settings, the request and the state of the server, so that every rule can
// be tested without a socket.
namespace ktutils::tool {

struct ServerSettings {
    KTUVersion version;                   // a client must bring exactly this one
    std::vector<KTUGuidVersion> modules;  // what the server offers
    std::size_t capacity = 8;             // connected clients at most
    bool deny = false;                    // refuse every request
};

struct ConnectRequest {
    uint32_t challenge = 0;
    std::string name;  // string1 of the request: who connects
    KTUVersion version;
    std::vector<KTUGuidVersion> modules;
};

// What the server knows of the connection and of the others.
struct ServerState {
    bool challengeIssued = false;  // a Challenge was sent on this connection
    uint32_t challenge = 0;        // the word it carried
    bool connected = false;        // this connection is already connected
    bool nameInUse = false;        // another connection is connected under this name
    std::size_t connectedCount = 0;
};

enum class Verdict { Connected, Denied, AlreadyConnected, BadVersion, BadModule, Full };

// The denial byte of ServerDenied: why the server refused.
constexpr uint8_t kDeniedBySettings = 1;  // serve --deny
constexpr uint8_t kDeniedBadChallenge = 2;  // no challenge issued, or not its word

struct Admission {
    Verdict verdict = Verdict::Connected;
    uint8_t denial = 0;                   // for Denied
    std::vector<KTUGuidVersion> refused;  // for BadModule: the client's modules refused
};

// The first rule that fails decides, in this order: denied by settings,
// wrong challenge, already connected, version, modules, capacity.
Admission Admit(const ServerSettings& settings, const ConnectRequest& request,
                const ServerState& state);

}  // namespace ktutils::tool
