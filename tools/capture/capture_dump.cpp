#include "tools/capture/capture_dump.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "ktutils/ktutils.h"
#include "tools/capture/capture_reader.h"
#include "tools/text/decoded_message.h"
#include "tools/cli/exit_status.h"
#include "tools/cli/standard_output.h"
#include "tools/text/json_line.h"
#include "tools/text/message_printer.h"
#include "tools/capture/tcp_stream_reassembler.h"

namespace ktutils::tool {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::size_t kHeaderSize = 8;
const char* const kDirections[2] = {"client>server", "server>client"};
// Connections followed at once at most: past that the one idle the longest
// is forgotten, so that memory follows the connections open at once (a SYN
// flood opens many and closes none), not the capture's length.
constexpr std::size_t kMaxOpenConnections = 16384;

std::string At(uint64_t offset) { return "@" + std::to_string(offset); }

// Whether the first header of a stream is one of this protocol's: the
// buffer's own header rules, and a type of the set.
bool LooksLikeMessage(const uint8_t* h) {
    const uint32_t length = uint32_t{h[0]} | uint32_t{h[1]} << 8 | uint32_t{h[2]} << 16 |
                            uint32_t{h[3]} << 24;
    const auto type = static_cast<uint16_t>(h[4] | h[5] << 8);
    const bool formOk = h[7] == 0 || (h[7] == 1 && h[6] == 0);
    return formOk && length <= NQMessageBuffer::kMaxPayloadSize &&
           std::strcmp(KTUMessage2::KTUMessage2TypeToString(type), "UNKNOWN_MESSAGE") != 0;
}

// Frames one direction's bytes into messages with the message buffer, and
// decides what a gap leaves decodable.
class DirectionFramer {
public:
    struct Events {
        std::function<bool(const uint8_t* header)> firstHeader;  // false: stay silent
        std::function<void(const DecodedMessage&)> message;
        std::function<void(uint64_t offset, const std::string& text, Json event)> event;
    };

    explicit DirectionFramer(Events events) : events_(std::move(events)) {}

    void StartsInside() {
        if (lost_) return;
        lost_ = true;
        events_.event(0, "capture starts inside this stream: its frames cannot be told apart",
                      {{"event", "unframed"}});
    }

    void Data(uint64_t offset, const uint8_t* data, std::size_t size) {
        if (lost_) return;
        if (offset < base_) {  // inside a message already reported lost
            if (offset + size <= base_) return;
            const auto skip = static_cast<std::size_t>(base_ - offset);
            data += skip;
            size -= skip;
        }
        buffer_->Receive(data, size);
        pending_.insert(pending_.end(), data, data + size);
        fed_ += size;
        if (!checked_ && base_ == 0 && fed_ >= kHeaderSize) {
            checked_ = true;
            if (!events_.firstHeader(pending_.data())) {
                lost_ = true;
                return;
            }
        }
        try {
            while (buffer_->NextMsg()) {
                DecodedMessage message = DecodeCurrentMessage(*buffer_);
                message.offset += base_;
                events_.message(message);
            }
        } catch (const NQBufferError& e) {
            lost_ = true;
            events_.event(base_ + buffer_->MsgOffset(),
                          std::string("malformed frame: ") + e.what() +
                              "; the rest of this direction is not decoded",
                          {{"event", "malformed"}, {"error", e.what()}});
            return;
        }
        pending_.erase(pending_.begin(),
                       pending_.end() - static_cast<std::ptrdiff_t>(buffer_->PendingInput()));
    }

    void Gap(uint64_t offset, uint64_t size) {
        if (lost_ || offset + size <= base_) return;
        const uint64_t missing = size;
        if (offset >= base_ && pending_.size() >= kHeaderSize) {
            const uint8_t* h = pending_.data();
            const uint64_t length = uint64_t{h[0]} | uint64_t{h[1]} << 8 | uint64_t{h[2]} << 16 |
                                    uint64_t{h[3]} << 24;
            const uint64_t start = offset - pending_.size();
            const uint64_t end = start + kHeaderSize + length;
            if (offset + size <= end) {
                // The gap lies inside a message whose header arrived: that
                // message is lost, and the next one starts right after it.
                const auto type = static_cast<uint16_t>(h[4] | h[5] << 8);
                const char* name = KTUMessage2::KTUMessage2TypeToString(type);
                events_.event(offset,
                              "gap: " + std::to_string(missing) + " bytes missing; " + name +
                                  " at " + At(start) + " lost, decoding resumes at " + At(end),
                              {{"event", "gap"},
                               {"missing", missing},
                               {"lost", start},
                               {"resume", end}});
                buffer_ = std::make_unique<NQMessageBuffer>();
                pending_.clear();
                base_ = end;
                fed_ = 0;
                return;
            }
        }
        lost_ = true;
        events_.event(offset,
                      "gap: " + std::to_string(missing) +
                          " bytes missing; the rest of this direction cannot be framed",
                      {{"event", "gap"}, {"missing", missing}, {"resume", nullptr}});
    }

    // `why` the direction ends: "capture ends", "connection ends", ...
    void Finish(const char* why) {
        if (lost_ || pending_.empty()) return;
        const uint64_t offset = base_ + fed_ - pending_.size();
        events_.event(offset,
                      "truncated message (" + std::to_string(pending_.size()) + " bytes, " +
                          why + ")",
                      {{"event", "truncated"}, {"bytes", pending_.size()}});
    }

private:
    Events events_;
    std::unique_ptr<NQMessageBuffer> buffer_ = std::make_unique<NQMessageBuffer>();
    std::vector<uint8_t> pending_;  // the bytes of the message not yet whole
    uint64_t base_ = 0;             // the stream offset of the buffer's first byte
    uint64_t fed_ = 0;              // bytes given to the buffer since base_
    bool checked_ = false;
    bool lost_ = false;
};

class CaptureDumper {
public:
    explicit CaptureDumper(const CaptureDumpOptions& options) : options_(options), time_(options.time) {}

    void Add(const TcpSegment& s) {
        seconds_ = s.seconds;
        microseconds_ = s.microseconds;
        if (s.captured < s.length) ++cut_;
        const auto it = Find(s);
        Connection& c = **it;
        const int dir = s.source == c.endpoints[0] ? 0 : 1;
        Side& side = *c.sides[dir];
        if (s.syn) {
            side.reassembler.Syn(s.seq);
            if (!s.ack) {
                c.hasClientSyn = true;
                c.clientSynSeq = s.seq;
            }
        }
        side.reassembler.Segment(s.seq, s.payload, s.captured, s.length);
        if (s.fin) side.reassembler.Fin(s.seq + static_cast<uint32_t>(s.length) + (s.syn ? 1 : 0));
        // After a reset, or once both directions have ended, nothing more
        // belongs to this connection: a later segment on the same
        // addresses is another one.
        if (s.rst || (c.sides[0]->reassembler.Ended() && c.sides[1]->reassembler.Ended())) {
            Forget(it, "connection ends");
        }
    }

    int Finish() {
        std::vector<Connection*> left;
        for (auto& c : open_) left.push_back(c.get());
        std::sort(left.begin(), left.end(),
                  [](const Connection* a, const Connection* b) { return a->id < b->id; });
        for (Connection* c : left) {
            for (auto& side : c->sides) side->reassembler.Finish();
            for (auto& side : c->sides) side->framer.Finish("capture ends");
        }
        return trouble_ ? kExitNegative : kExitOk;
    }

    // Why nothing was shown, when nothing was.
    std::string Nothing() const {
        if (shown_) return {};
        if (options_.connection != 0) {
            return "no connection #" + std::to_string(options_.connection) + " (the capture holds " +
                   std::to_string(lastId_) + ")";
        }
        if (options_.port >= 0) return "no connection with port " + std::to_string(options_.port);
        if (cut_ != 0) {
            return "no message found: " + std::to_string(cut_) +
                   " packets were cut short by the capture's snap length (capture with -s 0)";
        }
        return "no connection of this protocol";
    }

private:
    enum class Verdict { Undecided, Shown, Hidden };

    struct Connection;
    struct Side {
        Side(CaptureDumper& d, Connection& c, int dir)
            : reassembler({[this, &c](uint64_t offset, const uint8_t* data, std::size_t size) {
                               if (!reassembler.SawSyn()) framer.StartsInside();
                               framer.Data(offset, data, size);
                               c.anyData = true;
                           },
                           [this](uint64_t offset, uint64_t size) { framer.Gap(offset, size); }}),
              framer({[&d, &c](const uint8_t* header) { return d.Judge(c, header); },
                      [&d, &c, dir](const DecodedMessage& m) { d.ShowMessage(c, dir, m); },
                      [&d, &c, dir](uint64_t offset, const std::string& text, Json event) {
                          d.ShowEvent(c, dir, offset, text, std::move(event));
                      }}) {}
        TcpStreamReassembler reassembler;
        DirectionFramer framer;
    };

    struct Connection {
        unsigned id = 0;
        std::pair<TcpEndpoint, TcpEndpoint> key;
        TcpEndpoint endpoints[2];  // client, server
        Verdict verdict = Verdict::Undecided;
        bool anyData = false;
        bool hasClientSyn = false;
        uint32_t clientSynSeq = 0;
        std::unique_ptr<Side> sides[2];
    };

    using Key = std::pair<TcpEndpoint, TcpEndpoint>;
    // Open connections, the one idle the longest first.
    using Open = std::list<std::unique_ptr<Connection>>;

    static Key KeyOf(const TcpSegment& s) {
        return s.source < s.destination ? Key{s.source, s.destination}
                                        : Key{s.destination, s.source};
    }

    Open::iterator Find(const TcpSegment& s) {
        const Key key = KeyOf(s);
        auto it = byKey_.find(key);
        // A new SYN on a known address pair opens a new connection once the
        // old one has carried data or had another SYN.
        const bool reopened = it != byKey_.end() && s.syn && !s.ack &&
                              ((*it->second)->hasClientSyn ? (*it->second)->clientSynSeq != s.seq
                                                           : (*it->second)->anyData);
        if (it != byKey_.end() && !reopened) {
            open_.splice(open_.end(), open_, it->second);  // the most recent now
            return it->second;
        }
        if (it != byKey_.end()) Forget(it->second, "connection ends");
        if (open_.size() >= kMaxOpenConnections) {
            Forget(open_.begin(), "connection forgotten: too many open at once");
        }
        auto c = std::make_unique<Connection>();
        c->id = ++lastId_;
        c->key = key;
        // Who is the client: the SYN's sender, the SYN-ACK's receiver, the
        // side away from --port; failing those, the first sender.
        const bool sourceIsServer =
            (s.syn && s.ack) || (!s.syn && options_.port >= 0 && s.source.port == options_.port &&
                                 s.destination.port != options_.port);
        c->endpoints[0] = sourceIsServer ? s.destination : s.source;
        c->endpoints[1] = sourceIsServer ? s.source : s.destination;
        for (int dir = 0; dir < 2; ++dir) c->sides[dir] = std::make_unique<Side>(*this, *c, dir);
        Connection& result = *c;
        const auto at = open_.insert(open_.end(), std::move(c));
        byKey_[key] = at;
        if (options_.connection != 0) {
            Decide(result, result.id == options_.connection);
        } else if (options_.port >= 0) {
            Decide(result, result.endpoints[0].port == options_.port ||
                               result.endpoints[1].port == options_.port);
        }
        return at;
    }

    // Hands out what the connection still holds and lets it go.
    void Forget(Open::iterator it, const char* why) {
        Connection& c = **it;
        for (auto& side : c.sides) side->reassembler.Finish();
        for (auto& side : c.sides) side->framer.Finish(why);
        byKey_.erase(c.key);
        open_.erase(it);
    }

    bool Judge(Connection& c, const uint8_t* header) {
        if (c.verdict == Verdict::Undecided) Decide(c, LooksLikeMessage(header));
        return c.verdict == Verdict::Shown;
    }

    void Decide(Connection& c, bool shown) {
        c.verdict = shown ? Verdict::Shown : Verdict::Hidden;
        if (!shown) return;
        shown_ = true;
        const std::string client = c.endpoints[0].ToString();
        const std::string server = c.endpoints[1].ToString();
        const std::string time = Time();
        Json json = {{"time", time},
                     {"connection", c.id},
                     {"event", "connection"},
                     {"client", client},
                     {"server", server}};
        Line(json, time + " #" + std::to_string(c.id) + " connection " + client + " > " + server);
    }

    void ShowMessage(const Connection& c, int dir, const DecodedMessage& m) {
        if (c.verdict != Verdict::Shown) return;
        if (m.damaged) trouble_ = true;
        const std::string time = Time();
        Json json = {{"time", time}, {"connection", c.id}, {"dir", kDirections[dir]}};
        if (options_.json) json.update(ToJson(m, options_.showSecrets));
        Line(json, options_.json ? std::string() : Prefix(time, c, dir) + FormatText(m, options_.showSecrets));
    }

    void ShowEvent(const Connection& c, int dir, uint64_t offset, const std::string& text,
                   Json event) {
        if (c.verdict != Verdict::Shown) return;
        trouble_ = true;
        const std::string time = Time();
        Json json = {{"time", time},
                     {"connection", c.id},
                     {"dir", kDirections[dir]},
                     {"offset", offset}};
        json.update(event);
        Line(json, Prefix(time, c, dir) + At(offset) + " " + text);
    }

    // The time of the packet at hand, for a line about to be shown.
    std::string Time() { return time_.Format(seconds_, microseconds_); }

    static std::string Prefix(const std::string& time, const Connection& c, int dir) {
        return time + " #" + std::to_string(c.id) + " " + kDirections[dir] + " ";
    }

    void Line(const Json& json, const std::string& text) {
        WriteLine(stdout, options_.json ? JsonText(json) : text);
    }

    const CaptureDumpOptions& options_;
    TimeText time_;
    int64_t seconds_ = 0;
    uint32_t microseconds_ = 0;
    unsigned long cut_ = 0;  // packets whose bytes the snap length cut
    bool shown_ = false;
    Open open_;
    std::map<Key, Open::iterator> byKey_;
    unsigned lastId_ = 0;
    bool trouble_ = false;
};

}  // namespace

int DumpCapture(const CaptureDumpOptions& options, std::FILE* file) {
    std::string error;
    const std::unique_ptr<CaptureReader> reader = CaptureReader::Open(file, error);
    if (!reader) {
        Diagnose("ktutils dump: %s: %s\n", options.name.c_str(), error.c_str());
        return kExitSystem;
    }
    if (!IsLinkTypeRead(reader->LinkType())) {
        Diagnose("ktutils dump: %s: nothing to show: link type %d carries no TCP that dump reads\n",
                 options.name.c_str(), reader->LinkType());
        return kExitNegative;
    }
    CaptureDumper dumper(options);
    TcpSegment segment;
    while (reader->Next(segment)) dumper.Add(segment);
    const int status = dumper.Finish();
    if (!reader->Error().empty()) {
        Diagnose("ktutils dump: %s: %s\n", options.name.c_str(), reader->Error().c_str());
        return kExitSystem;
    }
    if (const std::string nothing = dumper.Nothing(); !nothing.empty()) {
        Diagnose("ktutils dump: %s: nothing to show: %s\n", options.name.c_str(), nothing.c_str());
        return kExitNegative;
    }
    return status;
}

}  // namespace ktutils::tool
