// A minimal server on ktutils: the connection handshake over TCP on loopback, one client at a time, with
// three admission rules, each answered with its own refusal before the connection is closed:
//   the connect request carries the challenge this server issued     else SERVERDENIED, reason 1
//   the client's protocol version is the server's                    else BADVERSION, with the server's
//   the client brings every module the server requires, at its version  else BADMODULE, with the client's
// Any of the five forms of the connect request is judged alike: ktutils::DescribeMessage gives the
// challenge, version and modules of each. Every message received is logged with ktutils::ToText, its
// passwords hidden.
//
//   server [--clients N] [--version A.B.C.D] [--module ID:VER]...
//
// It listens on a free port of 127.0.0.1, says which on its first line, serves N clients (1 by default)
// and ends. The reference server of the ktutils tool (ktutils serve) does more: many clients at once,
// capacity, denials, keep-alive.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <ktutils/ktutils.h>

namespace {

struct Rules {
    KTUVersion version = GetKTUVersion();
    XList<KTUGuidVersion> modules;
};

// Sends what `out` holds; false when the peer is gone.
bool Flush(int peer, NQMessageBuffer& out) {
    const std::vector<uint8_t> bytes = out.TakeOutput();
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t count = send(peer, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count <= 0) return false;
        sent += static_cast<std::size_t>(count);
    }
    return true;
}

// Waits for the next whole message; false when the peer closed, fell silent or broke the framing.
bool Next(int peer, NQMessageBuffer& in) {
    try {
        while (!in.NextMsg()) {
            uint8_t bytes[4096];
            const ssize_t count = recv(peer, bytes, sizeof bytes, 0);
            if (count <= 0) return false;
            in.Receive(bytes, static_cast<std::size_t>(count));
        }
        return true;
    } catch (const NQBufferError& error) {
        std::printf("malformed stream: %s\n", error.what());
        return false;
    }
}

bool IsConnectRequest(uint16_t type) {
    return type == KTMESSAGETYPE2_CHALLENGECONNECT || type == KTMESSAGETYPE2_CHALLENGECONNECTDUAL ||
           type == KTMESSAGETYPE2_CHALLENGECONNECTEX || type == KTMESSAGETYPE2_CHALLENGECONNECTDUALEX ||
           type == KTMESSAGETYPE2_CHALLENGECONNECTEMBEDDED;
}

bool HasEvery(const XList<KTUGuidVersion>& brought, const XList<KTUGuidVersion>& required) {
    return std::all_of(required.begin(), required.end(), [&](const KTUGuidVersion& module) {
        return std::find(brought.begin(), brought.end(), module) != brought.end();
    });
}

// Answers a connect request by the rules in order; true when the client is admitted.
bool Admit(NQMessageBuffer& out, const ktutils::MessageDescription& request, uint32_t issued, const Rules& rules) {
    if (request.damaged || request.challenge != issued) {
        KTUMessage2::WriteServerDenied2(out, 1);
    } else if (request.version != rules.version) {
        KTUMessage2::WriteBadVersion2(out, rules.version);
    } else if (!HasEvery(request.modules, rules.modules)) {
        KTUMessage2::WriteBadModule2(out, request.modules);
    } else {
        XList<KTUModuleInfo> accepted;
        for (const KTUGuidVersion& module : request.modules) accepted.Append(KTUModuleInfo{module.guid, 1});
        KTUMessage2::WriteConnected2(out, accepted, 0);
        return true;
    }
    return false;
}

// One client, until it shuts down, is refused, goes silent or leaves.
void Serve(int peer, const Rules& rules, std::mt19937& random) {
    NQMessageBuffer in, out;
    uint32_t issued = 0;
    bool refused = false;
    ktutils::RenderOptions log;  // a log is no place for the clients' passwords
    log.redactSecrets = true;
    while (!refused && Next(peer, in)) {
        const ktutils::MessageDescription message = ktutils::DescribeMessage(in);
        std::printf("recv %s\n", ktutils::ToText(message, log).c_str());
        if (message.type == KTMESSAGETYPE2_LOOKFORSERVER) {
            XList<KTUGUID> required;
            for (const KTUGuidVersion& module : rules.modules) required.Append(module.guid);
            KTUMessage2::WriteServerInfo(out, 0, required);
        } else if (message.type == KTMESSAGETYPE2_BEGINCHALLENGE) {
            issued = static_cast<uint32_t>(random());
            KTUMessage2::WriteChallenge2(out, issued);
        } else if (IsConnectRequest(message.type)) {
            refused = !Admit(out, message, issued, rules);
        } else if (message.type == KTMESSAGETYPE2_SHUTDOWN) {
            return;
        }  // a ping or a keep-alive needs no answer
        if (!Flush(peer, out)) return;
    }
}

}  // namespace

int main(int argc, char** argv) {
    Rules rules;
    long clients = 1;
    for (int i = 1; i < argc; i += 2) {
        const std::string option = argv[i], value = i + 1 < argc ? argv[i + 1] : "";
        const auto version = ktutils::ParseVersion(value);
        const auto module = ktutils::ParseGuidVersion(value);
        if (option == "--clients" && !value.empty()) {
            clients = std::strtol(value.c_str(), nullptr, 10);
        } else if (option == "--version" && version) {
            rules.version = *version;
        } else if (option == "--module" && module) {
            rules.modules.Append(*module);
        } else {
            std::fprintf(stderr, "usage: server [--clients N] [--version A.B.C.D] [--module ID:VER]...\n");
            return 2;
        }
    }

    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 8) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("server: listening on 127.0.0.1");
        return 3;
    }
    std::printf("listening on 127.0.0.1:%u\n", static_cast<unsigned>(ntohs(address.sin_port)));
    std::fflush(stdout);

    std::mt19937 random(std::random_device{}());
    for (long served = 0; served < clients; ++served) {
        const int peer = accept(listener, nullptr, nullptr);
        if (peer < 0) {
            std::perror("server: accept");
            return 3;
        }
        const timeval silence{5, 0};  // a client that stops talking is dropped
        setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &silence, sizeof silence);
        Serve(peer, rules, random);
        close(peer);
        std::printf("closed\n");
        std::fflush(stdout);
    }
    close(listener);
    return 0;
}
