#include "tools/reference_server.h"

#include <poll.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <random>

#include "tools/exit_status.h"
#include "tools/message_connection.h"

namespace ktutils::tool {
namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::ordered_json;

volatile std::sig_atomic_t stopRequested = 0;

// A short turn, so that a stop request is seen soon after its signal.
constexpr int kTurnMilliseconds = 100;

struct Client {
    Client(unsigned number, TcpSocket socket, MessagePrinter& printer)
        : id(number), link(std::move(socket), printer, number) {}

    unsigned id;
    MessageConnection link;
    bool challengeIssued = false;
    uint32_t challenge = 0;
    bool connected = false;
    std::string name;
    Clock::time_point lastHeard = Clock::now();
    // Set once the last answer is queued: close when it has gone out.
    std::optional<std::string> closing;
};

class Server {
public:
    Server(const ServeOptions& options, MessagePrinter& printer)
        : options_(options), printer_(printer), random_(std::random_device{}()) {}

    int Run();

private:
    void AcceptAll();
    void Serve(Client& client);
    void Answer(Client& client, const DecodedMessage& message);
    void AnswerConnect(Client& client, const DecodedMessage& message);
    void Close(Client& client, const std::string& reason);
    std::size_t ConnectedCount() const;
    bool NameInUse(const std::string& name) const;

    const ServeOptions& options_;
    MessagePrinter& printer_;
    std::mt19937 random_;
    TcpSocket listener_;
    std::list<std::unique_ptr<Client>> clients_;
    unsigned nextId_ = 1;
    unsigned ended_ = 0;
};

int Server::Run() {
    try {
        listener_ = TcpSocket::Listen(options_.host, options_.port);
    } catch (const SocketError& e) {
        std::fprintf(stderr, "ktutils serve: %s\n", e.what());
        return kExitSystem;
    }
    printer_.Event("listening on " + listener_.LocalName(),
                   {{"event", "listening"}, {"address", listener_.LocalName()},
                    {"port", listener_.LocalPort()}});

    while (stopRequested == 0 && (options_.clients == 0 || ended_ < options_.clients)) {
        std::vector<pollfd> fds;
        fds.push_back({listener_.fd(), POLLIN, 0});
        for (const auto& client : clients_) {
            const short events = client->link.HasUnsent() ? POLLIN | POLLOUT : POLLIN;
            fds.push_back({client->link.Socket().fd(), events, 0});
        }
        poll(fds.data(), fds.size(), kTurnMilliseconds);

        if ((fds[0].revents & POLLIN) != 0) AcceptAll();
        for (auto it = clients_.begin(); it != clients_.end();) {
            Client& client = **it;
            Serve(client);
            if (client.closing && !client.link.HasUnsent()) {
                printer_.Event("closed: " + *client.closing,
                               {{"event", "closed"}, {"reason", *client.closing}}, client.id);
                ++ended_;
                it = clients_.erase(it);
            } else {
                ++it;
            }
        }
    }
    printer_.Event("stopped", {{"event", "stopped"}});
    return kExitOk;
}

void Server::AcceptAll() {
    for (;;) {
        TcpSocket socket;
        try {
            socket = listener_.Accept();
        } catch (const SocketError& e) {
            std::fprintf(stderr, "ktutils serve: %s\n", e.what());
            return;
        }
        if (!socket.IsOpen()) return;
        const std::string peer = socket.PeerName();
        auto client = std::make_unique<Client>(nextId_++, std::move(socket), printer_);
        printer_.Event("connection from " + peer, {{"event", "open"}, {"peer", peer}}, client->id);
        clients_.push_back(std::move(client));
    }
}

void Server::Serve(Client& client) {
    try {
        const bool open = client.link.Fill();
        while (!client.closing) {
            auto message = client.link.Next();
            if (!message) break;
            client.lastHeard = Clock::now();
            Answer(client, *message);
        }
        client.link.Flush();
        if (!client.closing && !open) Close(client, "the client closed the connection");
        if (!client.closing && Clock::now() - client.lastHeard > options_.idleTimeout) {
            Close(client, "idle for too long");
        }
    } catch (const NQBufferError& e) {
        // The stream cannot be trusted past a malformed frame: drop it unanswered.
        printer_.Event(std::string("malformed stream: ") + e.what(),
                       {{"event", "malformed"}, {"error", e.what()}}, client.id);
        Close(client, "malformed stream");
    } catch (const SocketError& e) {
        Close(client, e.what());
    }
    // A closing connection only sends its last answer; when the socket
    // breaks, or the peer stops reading, that answer is given up.
    if (client.closing) {
        try {
            client.link.Flush();
        } catch (const SocketError&) {
            client.link.Abandon();
        }
        if (Clock::now() - client.lastHeard > options_.idleTimeout) client.link.Abandon();
    }
}

void Server::Close(Client& client, const std::string& reason) {
    if (!client.closing) client.closing = reason;
}

void Server::Answer(Client& client, const DecodedMessage& message) {
    NQMessageBuffer out;
    switch (message.type) {
    case KTMESSAGETYPE2_LOOKFORSERVER: {
        XList<KTUGUID> ids;
        for (const KTUGuidVersion& module : options_.settings.modules) ids.Append(module.guid);
        const std::size_t used = ConnectedCount();
        const std::size_t capacity = options_.settings.capacity;
        const std::size_t free = used < capacity ? capacity - used : 0;
        const auto places = static_cast<uint16_t>(std::min<std::size_t>(free, UINT16_MAX));
        KTUMessage2::WriteServerInfo(out, places, ids);
        break;
    }
    case KTMESSAGETYPE2_BEGINCHALLENGE:
        client.challenge = static_cast<uint32_t>(random_());
        client.challengeIssued = true;
        KTUMessage2::WriteChallenge2(out, client.challenge);
        break;
    case KTMESSAGETYPE2_PING:
        if (client.connected) {
            KTUMessage2::WriteKeepAlive2(out);
        } else {
            KTUMessage2::WriteNotConnectedYet2(out);
        }
        break;
    case KTMESSAGETYPE2_KEEPALIVE:
        if (!client.connected) KTUMessage2::WriteNotConnectedYet2(out);
        break;
    case KTMESSAGETYPE2_SHUTDOWN:
        KTUMessage2::WriteShutdown2(out);
        Close(client, "shut down by the client");
        break;
    default:
        if (IsConnectRequest(message.type) && !message.damaged) {
            AnswerConnect(client, message);
        } else {
            // Damaged requests, TLS requests (this server speaks none) and
            // messages that a client has no business sending.
            KTUMessage2::WriteConnectionError2(out);
            Close(client, "unexpected message");
        }
        break;
    }
    client.link.Send(out);
}

void Server::AnswerConnect(Client& client, const DecodedMessage& message) {
    ConnectRequest request;
    request.challenge = message.challenge;
    request.name = message.string1.CStr();
    request.version = message.version;
    request.modules.assign(message.modules.begin(), message.modules.end());

    ServerState state;
    state.challengeIssued = client.challengeIssued;
    state.challenge = client.challenge;
    state.connected = client.connected;
    state.nameInUse = NameInUse(request.name);
    state.connectedCount = ConnectedCount();
    const Admission admission = Admit(options_.settings, request, state);

    // A challenge answers one request only.
    client.challengeIssued = false;

    NQMessageBuffer out;
    switch (admission.verdict) {
    case Verdict::Connected: {
        XList<KTUModuleInfo> accepted;
        for (const KTUGuidVersion& module : request.modules) {
            KTUModuleInfo info;
            info.guid = module.guid;
            info.state = 1;  // running
            accepted.Append(info);
        }
        client.connected = true;
        client.name = request.name;
        const bool dual = message.type == KTMESSAGETYPE2_CHALLENGECONNECTDUAL ||
                          message.type == KTMESSAGETYPE2_CHALLENGECONNECTDUALEX;
        if (dual) {
            KTUMessage2::WriteConnectedDual2(out, accepted,
                                             static_cast<uint16_t>(ConnectedCount()), client.id);
        } else {
            KTUMessage2::WriteConnected2(out, accepted, client.id);
        }
        break;
    }
    case Verdict::Denied:
        KTUMessage2::WriteServerDenied2(out, admission.denial);
        Close(client, "denied");
        break;
    case Verdict::AlreadyConnected:
        KTUMessage2::WriteAlreadyConnected2(out);
        // The session already on this connection goes on; a second login
        // under a name in use elsewhere is turned away.
        if (!client.connected) Close(client, "already connected");
        break;
    case Verdict::BadVersion:
        KTUMessage2::WriteBadVersion2(out, options_.settings.version);
        Close(client, "bad version");
        break;
    case Verdict::BadModule: {
        XList<KTUGuidVersion> refused;
        for (const KTUGuidVersion& module : admission.refused) refused.Append(module);
        KTUMessage2::WriteBadModule2(out, refused);
        Close(client, "bad module");
        break;
    }
    case Verdict::Full:
        KTUMessage2::WriteServerFull2(out);
        Close(client, "server full");
        break;
    }
    client.link.Send(out);
}

std::size_t Server::ConnectedCount() const {
    return static_cast<std::size_t>(std::count_if(
        clients_.begin(), clients_.end(), [](const auto& c) { return c->connected; }));
}

bool Server::NameInUse(const std::string& name) const {
    return std::any_of(clients_.begin(), clients_.end(), [&](const auto& c) {
        return c->connected && !c->closing && c->name == name;
    });
}

}  // namespace

int RunServer(const ServeOptions& options, MessagePrinter& printer) {
    stopRequested = 0;
    Server server(options, printer);
    return server.Run();
}

void RequestServerStop() noexcept { stopRequested = 1; }

}  // namespace ktutils::tool
