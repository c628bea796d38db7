#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "ktutils/protocol/ktu_records.h"

// How the reference server admits connections and answers a connect
// request: the request's verdict is a pure function of its settings, the
// request and the state of the server, so that every rule can be tested
// without a socket.
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

// Connections not logged in yet, in the order in which they give up their
// place to a newcomer when the places (or the descriptors) run out: first
// those that have sent no request, the oldest first, then the others, the
// one silent the longest first. A client on its way through the handshake
// speaks at every step, so idle sockets, whoever holds them and however
// often they are renewed, go before it.
class PendingPlaces {
public:
    void Add(int id);
    void Heard(int id);   // a request from it
    void Remove(int id);  // logged in or gone; an id not held is ignored
    std::size_t Size() const noexcept { return where_.size(); }
    // The one to drop for a newcomer; none when none is held.
    std::optional<int> Next() const;

private:
    struct Place {
        bool talking;
        std::list<int>::iterator at;
    };
    std::list<int> silent_, talking_;  // each in the order of giving up
    std::unordered_map<int, Place> where_;
};

}  // namespace ktutils::tool
