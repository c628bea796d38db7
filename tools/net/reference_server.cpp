#include "tools/net/reference_server.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>

#include "tools/capture/connection_recorder.h"
#include "tools/net/event_poller.h"
#include "tools/cli/exit_status.h"
#include "tools/net/message_connection.h"

namespace ktutils::tool {
namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t stopRequested = 0;
// The write end of the pipe that wakes a waiting server; -1 when none runs.
volatile std::sig_atomic_t stopPipe = -1;

// Timeouts are checked this often, and a wait lasts no longer.
constexpr std::chrono::milliseconds kSweepInterval{100};
// Requests are read in pieces of this size, and only when none is left
// whole: a turn answers a few dozen at most, so what is read ahead waits in
// memory; a large frame takes several pieces.
constexpr std::size_t kReadPiece = 4 * 1024;
// Bytes read from one client in one turn at most: a frame of the largest
// size, so that a legitimate client's request takes one turn.
constexpr std::size_t kReadBudget = 64 * 1024 + NQMessageBuffer::kHeaderSize;
// Received bytes held for one client at most: one frame of the largest size.
constexpr std::size_t kReceiveLimit =
    NQMessageBuffer::kHeaderSize + NQMessageBuffer::kMaxPayloadSize;
// Connections taken from the backlog in one turn at most, so that a crowd
// at the door does not hold up the clients inside.
constexpr unsigned kAcceptsPerTurn = 64;
// Accept failing again this soon after its last failure is the same
// shortage of descriptors, told once: descriptors freed and taken again
// (clients coming and going) do not make a new one.
constexpr std::chrono::seconds kShortageEpisode{10};

struct Client {
    Client(unsigned number, TcpSocket socket, MessagePrinter* printer)
        : id(number), link(std::move(socket), printer, number) {}

    unsigned id;
    MessageConnection link;
    std::unique_ptr<ConnectionRecorder> recorder;  // with serve --capture
    bool challengeIssued = false;
    uint32_t challenge = 0;
    bool connected = false;
    std::string name;
    Clock::time_point opened = Clock::now();
    Clock::time_point lastHeard = opened;
    // Since when the client has been holding up its own answers (over the
    // unsent limit, or closing with its last answer not taken) without
    // taking any of them: a slow reader that drains is not stuck.
    std::optional<Clock::time_point> stuckSince;
    uint64_t sentMark = 0;  // bytes taken by the client when last looked at
    std::size_t held = 0;   // memory counted in the server's total
    unsigned long turn = 0;  // the last turn it was served in
    // Set once the last answer is queued: close when it has gone out.
    std::optional<std::string> closing;
};

// A pipe whose read end wakes the server's wait when a signal arrives.
class StopPipe {
public:
    StopPipe() {
        int fds[2];
        if (pipe(fds) != 0) throw SocketError("pipe", errno);
        read_ = fds[0];
        write_ = fds[1];
        for (int fd : fds) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        stopPipe = write_;
    }
    ~StopPipe() {
        stopPipe = -1;
        close(read_);
        close(write_);
    }
    StopPipe(const StopPipe&) = delete;
    StopPipe& operator=(const StopPipe&) = delete;

    int fd() const { return read_; }
    void Drain() const {
        char bytes[64];
        while (read(read_, bytes, sizeof bytes) > 0) {
        }
    }

private:
    int read_;
    int write_;
};

// Descriptors are the server's only per-client limit the system imposes:
// take all that the hard limit allows.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

class Server {
public:
    Server(const ServeOptions& options, MessagePrinter& printer)
        : options_(options), printer_(printer), random_(std::random_device{}()) {}

    int Run();

private:
    using Clients = std::unordered_map<int, std::unique_ptr<Client>>;
    // What is left of a client's share of the current turn.
    struct Share {
        unsigned requests = kTurnRequests;
        std::size_t answerBytes = kTurnAnswerBytes;
    };

    bool ServerInfoFits();
    const std::vector<uint8_t>& ServerInfo();
    void AcceptAll();
    void Shortage(const SocketError& error);
    bool DropPending(const std::string& reason);
    bool Accepting() const;
    void Serve(int fd);
    bool Pump(Client& client);
    bool TakeMessages(Client& client, Share& share);
    bool Reading(const Client& client) const;
    bool Settle(Client& client, Clock::time_point now);
    void Progress(Client& client, Clock::time_point now);
    void Account(Client& client);
    void BoundMemory();
    void Sweep(Clock::time_point now);
    Clients::iterator End(Clients::iterator it);
    void Answer(Client& client, const DecodedMessage& message);
    void AnswerConnect(Client& client, const DecodedMessage& message);
    void Close(Client& client, const std::string& reason);
    void Event(const Client& client, const std::string& text, nlohmann::ordered_json event);
    bool NameInUse(const std::string& name) const;

    const ServeOptions& options_;
    MessagePrinter& printer_;
    std::mt19937 random_;
    EventPoller poller_;
    TcpSocket listener_;
    Clients clients_;
    PendingPlaces pending_;      // the clients not logged in, by their descriptors
    std::vector<int> carried_;   // clients whose share ran out with requests waiting
    unsigned long turn_ = 0;
    std::size_t held_ = 0;       // memory held for all clients
    std::size_t connected_ = 0;  // clients logged in
    unsigned nextId_ = 1;
    unsigned ended_ = 0;
    std::optional<Clock::time_point> acceptPausedUntil_;
    std::optional<Clock::time_point> lastShortage_;  // accept last failed for want of descriptors
    // The ServerInfo answer, made once per number of free places: with many
    // modules it is the largest answer, and a flood of LookForServer asks
    // for it again and again.
    XList<KTUGUID> moduleIds_;
    std::vector<uint8_t> serverInfo_;
    uint16_t serverInfoPlaces_ = 0;
};

int Server::Run() {
    for (const KTUGuidVersion& module : options_.settings.modules) moduleIds_.Append(module.guid);
    if (!ServerInfoFits()) {
        std::fprintf(stderr,
                     "ktutils serve: %zu modules do not fit in a ServerInfo (its payload is "
                     "%u bytes at most): offer fewer --module\n",
                     options_.settings.modules.size(), NQMessageBuffer::kMaxPayloadSize);
        return kExitUsage;
    }
    try {
        listener_ = TcpSocket::Listen(options_.host, options_.port);
    } catch (const SocketError& e) {
        std::fprintf(stderr, "ktutils serve: %s\n", e.what());
        return kExitSystem;
    }
    RaiseDescriptorLimit();
    const StopPipe wake;
    poller_.Watch(wake.fd(), true, false);
    printer_.Event("listening on " + listener_.LocalName(),
                   {{"event", "listening"}, {"address", listener_.LocalName()},
                    {"port", listener_.LocalPort()}});

    auto nextSweep = Clock::now() + kSweepInterval;
    while (stopRequested == 0 && (options_.clients == 0 || ended_ < options_.clients)) {
        poller_.Watch(listener_.fd(), Accepting(), false);
        auto wait = nextSweep;
        if (acceptPausedUntil_) wait = std::min(wait, *acceptPausedUntil_);
        // Clients with requests left from the last turn need no event.
        if (!carried_.empty()) wait = Clock::now();
        const auto timeout =
            std::chrono::duration_cast<std::chrono::milliseconds>(wait - Clock::now()).count();
        ++turn_;
        std::vector<int> carried;
        carried.swap(carried_);
        for (const EventPoller::Ready& ready :
             poller_.Wait(static_cast<int>(std::max<long long>(timeout, 0)))) {
            if (stopRequested != 0) break;  // a full turn can take a while: stop now
            if (ready.fd == wake.fd()) {
                wake.Drain();
            } else if (ready.fd == listener_.fd()) {
                AcceptAll();
            } else {
                Serve(ready.fd);
            }
        }
        // Round robin: each client's share once per turn, those with
        // requests left after those the system woke.
        for (const int fd : carried) {
            if (stopRequested == 0) Serve(fd);
        }
        const auto now = Clock::now();
        if (acceptPausedUntil_ && now >= *acceptPausedUntil_) acceptPausedUntil_.reset();
        if (now >= nextSweep) {
            Sweep(now);
            nextSweep = now + kSweepInterval;
        }
    }
    printer_.Event("stopped", {{"event", "stopped"}});
    return kExitOk;
}

bool Server::ServerInfoFits() {
    NQMessageBuffer out;
    return KTUMessage2::WriteServerInfo(out, UINT16_MAX, moduleIds_) == 1;
}

const std::vector<uint8_t>& Server::ServerInfo() {
    const std::size_t used = connected_;
    const std::size_t capacity = options_.settings.capacity;
    const std::size_t free = used < capacity ? capacity - used : 0;
    const auto places = static_cast<uint16_t>(std::min<std::size_t>(free, UINT16_MAX));
    if (serverInfo_.empty() || places != serverInfoPlaces_) {
        NQMessageBuffer out;
        KTUMessage2::WriteServerInfo(out, places, moduleIds_);
        serverInfo_ = out.TakeOutput();
        serverInfoPlaces_ = places;
    }
    return serverInfo_;
}

bool Server::Accepting() const { return !acceptPausedUntil_; }

void Server::AcceptAll() {
    for (unsigned accepted = 0; accepted < kAcceptsPerTurn && Accepting(); ++accepted) {
        TcpSocket socket;
        try {
            socket = listener_.Accept();
        } catch (const SocketError& e) {
            Shortage(e);
            // A descriptor given up by a connection not logged in is one
            // for the newcomer; without one, accepting pauses.
            const bool ownDescriptors = e.code() == EMFILE || e.code() == ENFILE;
            if (ownDescriptors && DropPending("dropped for a newer connection (no descriptor left)")) {
                continue;
            }
            // With no descriptor left (or no memory for one) the waiting
            // connection stays in the backlog and accept fails at once each
            // time it is tried: retrying at every turn would spin.
            acceptPausedUntil_ = Clock::now() + kAcceptPause;
            return;
        }
        if (!socket.IsOpen()) return;
        if (pending_.Size() >= options_.maxPending) {
            DropPending("dropped for a newer connection (--max-pending reached)");
        }
        const int fd = socket.fd();
        auto client = std::make_unique<Client>(nextId_++, std::move(socket),
                                               options_.quiet ? nullptr : &printer_);
        if (options_.capture != nullptr) {
            client->recorder = ConnectionRecorder::Attach(*options_.capture, client->link, false);
        }
        if (!options_.quiet) {
            const std::string peer = client->link.Socket().PeerName();
            Event(*client, "connection from " + peer, {{"event", "open"}, {"peer", peer}});
        }
        poller_.Watch(fd, true, false);
        clients_[fd] = std::move(client);
        pending_.Add(fd);
        // Its first request is usually there already: a client that has
        // spoken keeps its place before the silent ones.
        Serve(fd);
    }
}

// One line per episode of shortage, however often accept fails in it.
void Server::Shortage(const SocketError& error) {
    const auto now = Clock::now();
    const bool told = lastShortage_ && now - *lastShortage_ < kShortageEpisode;
    lastShortage_ = now;
    if (told) return;
    printer_.Event(std::string("accepting paused: ") + error.what(),
                   {{"event", "accept-paused"}, {"error", error.what()}});
}

// Drops the connection not logged in that gives up its place first; false
// when there is none.
bool Server::DropPending(const std::string& reason) {
    const std::optional<int> fd = pending_.Next();
    const auto it = fd ? clients_.find(*fd) : clients_.end();
    if (it == clients_.end()) return false;
    it->second->link.Abandon();
    Close(*it->second, reason);
    End(it);
    return true;
}

void Server::Serve(int fd) {
    const auto it = clients_.find(fd);
    if (it == clients_.end() || it->second->turn == turn_) return;
    Client& client = *it->second;
    client.turn = turn_;
    const bool more = Pump(client);
    if (Settle(client, Clock::now())) {
        End(it);
    } else {
        Account(client);
        if (more) carried_.push_back(fd);
    }
    BoundMemory();
}

// One turn of the client: what it takes of its answers goes out, then its
// requests are read and answered within its share. True when requests it
// sent wait for its next turn.
bool Server::Pump(Client& client) {
    bool more = false;
    try {
        client.link.Flush();
        Share share;
        std::size_t budget = kReadBudget;
        for (bool emptied = false;;) {
            if (TakeMessages(client, share)) {
                more = true;
                break;
            }
            if (emptied || budget == 0 || !Reading(client)) break;
            const long received = client.link.Fill(kReadPiece);
            if (received <= 0) {
                if (received < 0) Close(client, "the client closed the connection");
                break;
            }
            budget -= std::min(budget, static_cast<std::size_t>(received));
            // A short read emptied the socket: another would only say so.
            emptied = static_cast<std::size_t>(received) < kReadPiece;
        }
        client.link.Flush();
    } catch (const NQBufferError& e) {
        // The stream cannot be trusted past a malformed frame: drop it unanswered.
        Event(client, std::string("malformed stream: ") + e.what(),
              {{"event", "malformed"}, {"error", e.what()}});
        Close(client, "malformed stream");
    } catch (const SocketError& e) {
        // A broken connection takes nothing more: its queue goes with it.
        client.link.Abandon();
        Close(client, e.what());
    }
    return more && !client.closing;
}

// Answers whole received messages while the client's share of the turn
// lasts and its answers may be queued; true when the share ran out.
// Requests held back by the unsent limit wait for the socket to take
// answers, which its readiness to write tells.
bool Server::TakeMessages(Client& client, Share& share) {
    while (!client.closing && client.link.UnsentSize() <= kUnsentLimit) {
        if (share.requests == 0 || share.answerBytes == 0) return true;
        auto message = client.link.Next();
        if (!message) return false;
        client.lastHeard = Clock::now();
        if (!client.connected) pending_.Heard(client.link.Socket().fd());
        const std::size_t before = client.link.UnsentSize();
        Answer(client, *message);
        --share.requests;
        share.answerBytes -= std::min(share.answerBytes, client.link.UnsentSize() - before);
    }
    return false;
}

// Requests are read only while their answers can be queued: not from a
// client that is closing, nor from one whose answers pile up unsent.
bool Server::Reading(const Client& client) const {
    return !client.closing && client.link.UnsentSize() <= kUnsentLimit &&
           client.link.PendingInput() < kReceiveLimit;
}

// Watches the client for what it needs next; true when it is done with.
bool Server::Settle(Client& client, Clock::time_point now) {
    Progress(client, now);
    if (client.closing && !client.link.HasUnsent()) return true;
    poller_.Watch(client.link.Socket().fd(), Reading(client), client.link.HasUnsent());
    return false;
}

// Whether the client holds up its own answers, and since when without
// taking any of them.
void Server::Progress(Client& client, Clock::time_point now) {
    const bool stuck = client.link.UnsentSize() > kUnsentLimit ||
                       (client.closing && client.link.HasUnsent());
    const uint64_t sent = client.link.SentTotal();
    if (!stuck) {
        client.stuckSince.reset();
    } else if (!client.stuckSince || sent != client.sentMark) {
        client.stuckSince = now;
    }
    client.sentMark = sent;
}

void Server::Account(Client& client) {
    held_ -= client.held;
    client.held = client.link.HeldMemory();
    held_ += client.held;
}

// Past the bound on all queues together, the clients holding the most go
// first: whoever piles up answers pays, not the clients that take theirs.
void Server::BoundMemory() {
    while (held_ > options_.maxMemory) {
        const auto largest = std::max_element(
            clients_.begin(), clients_.end(),
            [](const auto& a, const auto& b) { return a.second->held < b.second->held; });
        if (largest == clients_.end() || largest->second->held == 0) return;
        largest->second->link.Abandon();
        Close(*largest->second, "its answers passed the server's memory bound");
        End(largest);
    }
}

void Server::Sweep(Clock::time_point now) {
    for (auto it = clients_.begin(); it != clients_.end();) {
        Client& client = *it->second;
        if (client.stuckSince) {
            // A socket takes a little before the system calls it writable
            // again (with megabytes queued, only once half of them are
            // gone): a slow reader's progress shows here first.
            try {
                client.link.Flush();
            } catch (const SocketError& e) {
                client.link.Abandon();
                Close(client, e.what());
            }
            Progress(client, now);
            // Requests held back by the limit wait in its buffer: no event
            // tells of them.
            if (!client.closing && client.link.UnsentSize() <= kUnsentLimit) carried_.push_back(it->first);
        }
        if (client.stuckSince && now - *client.stuckSince > options_.idleTimeout) {
            // Whatever it has not taken in that time, it will not take.
            client.link.Abandon();
            Close(client, "its answers were not taken");
        } else if (!client.closing && !client.connected &&
                   now - client.opened > options_.loginTimeout) {
            client.link.Abandon();
            Close(client, "not logged in in time");
        } else if (!client.closing && now - client.lastHeard > options_.idleTimeout) {
            Close(client, "idle for too long");
        }
        if (Settle(client, now)) {
            it = End(it);
        } else {
            Account(client);
            ++it;
        }
    }
    BoundMemory();
}

Server::Clients::iterator Server::End(Clients::iterator it) {
    Client& client = *it->second;
    if (!options_.quiet) {
        const std::string reason = client.closing.value_or("?");
        Event(client, "closed: " + reason, {{"event", "closed"}, {"reason", reason}});
    }
    if (client.connected) --connected_;
    ++ended_;
    held_ -= client.held;
    pending_.Remove(it->first);
    poller_.Forget(it->first);
    return clients_.erase(it);
}

void Server::Close(Client& client, const std::string& reason) {
    if (!client.closing) client.closing = reason;
}

void Server::Event(const Client& client, const std::string& text, nlohmann::ordered_json event) {
    if (!options_.quiet) printer_.Event(text, std::move(event), client.id);
}

void Server::Answer(Client& client, const DecodedMessage& message) {
    NQMessageBuffer out;
    switch (message.type) {
    case KTMESSAGETYPE2_LOOKFORSERVER:
        client.link.Send(ServerInfo());
        break;
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
    state.connectedCount = connected_;
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
        ++connected_;
        pending_.Remove(client.link.Socket().fd());
        client.name = request.name;
        const bool dual = message.type == KTMESSAGETYPE2_CHALLENGECONNECTDUAL ||
                          message.type == KTMESSAGETYPE2_CHALLENGECONNECTDUALEX;
        if (dual) {
            KTUMessage2::WriteConnectedDual2(out, accepted,
                                             static_cast<uint16_t>(connected_), client.id);
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

bool Server::NameInUse(const std::string& name) const {
    return std::any_of(clients_.begin(), clients_.end(), [&](const auto& entry) {
        const Client& c = *entry.second;
        return c.connected && !c.closing && c.name == name;
    });
}

}  // namespace

int RunServer(const ServeOptions& options, MessagePrinter& printer) {
    stopRequested = 0;
    Server server(options, printer);
    return server.Run();
}

void RequestServerStop() noexcept {
    stopRequested = 1;
    const int saved = errno;
    const int fd = stopPipe;
    if (fd >= 0) {
        const char byte = 1;
        // A full pipe already holds a wake-up: nothing is lost.
        [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
    }
    errno = saved;
}

}  // namespace ktutils::tool
