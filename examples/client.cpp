// A minimal client on ktutils: over TCP it looks for the server, asks for a challenge, connects with it
// and, once admitted, shuts down. Every answer is logged with ktutils::ToText.
//
//   client HOST PORT [--version A.B.C.D] [--module ID:VER]... [--name NAME]
//
// HOST is an IPv4 address. Exit status 0 when the server admits the client, 1 when it refuses, 3 when
// the exchange fails. The tool's client (ktutils connect) also speaks the other request forms.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <ktutils/ktutils.h>

namespace {

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

// Sends what `out` holds, then waits for the answer and describes it; false when there is none.
bool Exchange(int peer, NQMessageBuffer& out, NQMessageBuffer& in, ktutils::MessageDescription& answer) {
    if (!Flush(peer, out)) return false;
    try {
        while (!in.NextMsg()) {
            uint8_t bytes[4096];
            const ssize_t count = recv(peer, bytes, sizeof bytes, 0);
            if (count <= 0) return false;
            in.Receive(bytes, static_cast<std::size_t>(count));
        }
    } catch (const NQBufferError&) {
        return false;
    }
    answer = ktutils::DescribeMessage(in);
    std::printf("recv %s\n", ktutils::ToText(answer).c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    KTUVersion version = GetKTUVersion();
    XList<KTUGuidVersion> modules;
    std::string name = "example";
    sockaddr_in address{};
    address.sin_family = AF_INET;
    bool usable = argc >= 3 && inet_pton(AF_INET, argv[1], &address.sin_addr) == 1;
    address.sin_port = htons(static_cast<uint16_t>(argc >= 3 ? std::strtoul(argv[2], nullptr, 10) : 0));
    for (int i = 3; usable && i < argc; i += 2) {
        const std::string option = argv[i], value = i + 1 < argc ? argv[i + 1] : "";
        const auto parsedVersion = ktutils::ParseVersion(value);
        const auto module = ktutils::ParseGuidVersion(value);
        if (option == "--version" && parsedVersion) version = *parsedVersion;
        else if (option == "--module" && module) modules.Append(*module);
        else if (option == "--name" && !value.empty()) name = value;
        else usable = false;
    }
    if (!usable) {
        std::fprintf(stderr, "usage: client HOST PORT [--version A.B.C.D] [--module ID:VER]... [--name NAME]\n");
        return 2;
    }

    const int peer = socket(AF_INET, SOCK_STREAM, 0);
    const timeval patience{5, 0};  // a server that stops answering ends the exchange
    if (peer < 0 || setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience) != 0 ||
        connect(peer, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("client: connect");
        return 3;
    }
    NQMessageBuffer out, in;
    ktutils::MessageDescription answer;
    KTUMessage2::WriteLookForServer(out);
    const bool found = Exchange(peer, out, in, answer) && answer.type == KTMESSAGETYPE2_SERVERINFO;
    KTUMessage2::WriteBeginChallenge2(out);
    if (!found || !Exchange(peer, out, in, answer) || answer.type != KTMESSAGETYPE2_CHALLENGE) {
        std::fprintf(stderr, "client: the server did not answer as a server of this protocol does\n");
        return 3;
    }
    KTUMessage2::WriteChallengeConnect2(out, answer.challenge, XString(name.c_str()), XString(""), version, modules);
    if (!Exchange(peer, out, in, answer)) {
        std::fprintf(stderr, "client: no answer to the connect request\n");
        return 3;
    }
    const bool admitted = answer.type == KTMESSAGETYPE2_CONNECTED;
    if (admitted) {
        KTUMessage2::WriteShutdown2(out);
        Flush(peer, out);
    }
    std::printf("%s\n", admitted ? "admitted" : "refused");
    close(peer);
    return admitted ? 0 : 1;
}
