#include "tools/net/reference_client.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <thread>

#include "ktutils/protocol/record_text.h"
#include "tools/capture/connection_recorder.h"
#include "tools/cli/exit_status.h"
#include "tools/net/message_connection.h"

namespace ktutils::tool {
namespace {

using Clock = std::chrono::steady_clock;

// The server answered with something the exchange has no place for.
class ProtocolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A payload the decoder refused holds no values to act on: taking the
// fields it left at zero would invent a challenge, a count or a reason.
void Whole(const DecodedMessage& message) {
    if (message.damaged) {
        throw ProtocolError(std::string("damaged ") +
                            KTUMessage2::KTUMessage2TypeToString(message.type) +
                            ": its payload ends inside a field");
    }
}

void Expect(const DecodedMessage& message, uint16_t type) {
    if (message.type != type) {
        throw ProtocolError(std::string("expected ") + KTUMessage2::KTUMessage2TypeToString(type) +
                            ", got " + KTUMessage2::KTUMessage2TypeToString(message.type));
    }
    Whole(message);
}

void WriteRequest(NQMessageBuffer& out, const ConnectOptions& options, uint32_t challenge) {
    XList<KTUGuidVersion> modules;
    for (const KTUGuidVersion& module : options.modules) modules.Append(module);
    const XString name(options.name.c_str());
    const XString password(options.password.c_str());

    unsigned char nonce[16];
    std::random_device random;
    for (unsigned char& byte : nonce) byte = static_cast<unsigned char>(random());
    unsigned char secret[16] = {};
    std::memcpy(secret, options.password.data(),
                std::min<std::size_t>(options.password.size(), sizeof secret));

    using K = KTUMessage2;
    switch (options.form) {
    case KTMESSAGETYPE2_CHALLENGECONNECT:
        K::WriteChallengeConnect2(out, challenge, name, password, options.version, modules);
        break;
    case KTMESSAGETYPE2_CHALLENGECONNECTDUAL:
        K::WriteChallengeConnectDual2(out, challenge, name, password, options.version, modules);
        break;
    case KTMESSAGETYPE2_CHALLENGECONNECTEX:
        K::WriteChallengeConnectSecured(out, challenge, nonce, name, secret, options.version,
                                        modules);
        break;
    case KTMESSAGETYPE2_CHALLENGECONNECTDUALEX:
        K::WriteChallengeConnectDualSecured(out, challenge, nonce, name, secret, options.version,
                                            modules);
        break;
    default:
        K::WriteChallengeConnectEmbedded(out, challenge, options.version, modules);
        break;
    }
}

// Why the server refused, in words, or null when the message is no refusal.
std::string Refusal(const DecodedMessage& m) {
    switch (m.type) {
    case KTMESSAGETYPE2_SERVERDENIED:
        return "denied (reason " + std::to_string(m.reason) + ")";
    case KTMESSAGETYPE2_SERVERFULL:
        return "the server is full";
    case KTMESSAGETYPE2_BADVERSION:
        return "bad version (the server runs " + ToString(m.version) + ")";
    case KTMESSAGETYPE2_BADMODULE: {
        std::string text = "bad module (refused:";
        for (const KTUGuidVersion& module : m.modules) text += " " + ToString(module);
        return text + ")";
    }
    case KTMESSAGETYPE2_ALREADYCONNECTED:
        return "already connected";
    case KTMESSAGETYPE2_CONNECTIONERROR:
        return "connection error";
    default:
        return {};
    }
}

}  // namespace

bool IsClientForm(uint16_t form) {
    return form == 21 || form == 22 || form == 27 || form == 28 || form == 29;
}

int RunClient(const ConnectOptions& options, MessagePrinter& printer) {
    const std::string where = options.server.host + ":" + std::to_string(options.server.port);
    const auto deadline = [&] { return Clock::now() + options.timeout; };
    try {
        MessageConnection link(TcpSocket::Connect(options.server.host, options.server.port,
                                                  options.timeout),
                               &printer);
        std::unique_ptr<ConnectionRecorder> recorder;
        if (options.capture != nullptr) {
            recorder = ConnectionRecorder::Attach(*options.capture, link, true);
        }
        printer.Event("connected to " + where, {{"event", "open"}, {"peer", where}});
        NQMessageBuffer out;

        KTUMessage2::WriteLookForServer(out);
        link.Send(out);
        Expect(link.Await(deadline()), KTMESSAGETYPE2_SERVERINFO);

        KTUMessage2::WriteBeginChallenge2(out);
        link.Send(out);
        const DecodedMessage challenge = link.Await(deadline());
        Expect(challenge, KTMESSAGETYPE2_CHALLENGE);

        WriteRequest(out, options, challenge.challenge);
        link.Send(out);
        const DecodedMessage answer = link.Await(deadline());
        Whole(answer);
        const std::string refusal = Refusal(answer);
        if (!refusal.empty()) {
            std::fprintf(stderr, "ktutils connect: %s refused the connection: %s\n", where.c_str(),
                         refusal.c_str());
            return kExitNegative;
        }
        if (answer.type != KTMESSAGETYPE2_CONNECTED &&
            answer.type != KTMESSAGETYPE2_CONNECTEDDUAL) {
            Expect(answer, KTMESSAGETYPE2_CONNECTED);
        }

        for (unsigned i = 0; i < options.pings; ++i) {
            std::this_thread::sleep_for(options.interval);
            KTUMessage2::WritePing2(out);
            link.Send(out);
            Expect(link.Await(deadline()), KTMESSAGETYPE2_KEEPALIVE);
        }

        KTUMessage2::WriteShutdown2(out);
        link.Send(out);
        Expect(link.Await(deadline()), KTMESSAGETYPE2_SHUTDOWN);
        printer.Event("disconnected", {{"event", "closed"}});
        return kExitOk;
    } catch (const SocketError& e) {
        std::fprintf(stderr, "ktutils connect: %s: %s\n", where.c_str(), e.what());
    } catch (const ProtocolError& e) {
        std::fprintf(stderr, "ktutils connect: %s: the server broke the protocol: %s\n", where.c_str(), e.what());
    } catch (const NQBufferError& e) {
        std::fprintf(stderr, "ktutils connect: %s: malformed stream: %s\n", where.c_str(),
                     e.what());
    }
    return kExitSystem;
}

}  // namespace ktutils::tool
