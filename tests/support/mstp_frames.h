#pragma once
// Test-side MS/TP frame builder, written independently of the engine so that tests check the engine
// against a second implementation of the CRCs. Header-only.
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace mstpgen {

using Octets = std::vector<uint8_t>;

enum FrameType : uint8_t {
    Token = 0,
    PollForMaster = 1,
    ReplyToPollForMaster = 2,
    TestRequest = 3,
    TestResponse = 4,
    DataExpectingReply = 5,
    DataNotExpectingReply = 6,
    ReplyPostponed = 7,
};

inline uint8_t HeaderCrcStep(uint8_t octet, uint8_t crc)
{
    unsigned c = static_cast<unsigned>(crc ^ octet);
    c = c ^ (c << 1) ^ (c << 2) ^ (c << 3) ^ (c << 4) ^ (c << 5) ^ (c << 6) ^ (c << 7);
    return static_cast<uint8_t>((c & 0xFE) ^ ((c >> 8) & 1));
}

inline uint16_t DataCrcStep(uint8_t octet, uint16_t crc)
{
    unsigned low = (crc & 0xFFu) ^ octet;
    return static_cast<uint16_t>((crc >> 8) ^ (low << 8) ^ (low << 3) ^ (low << 12) ^ (low >> 4) ^ (low & 0x0F) ^
                                 ((low & 0x0F) << 7));
}

// The complete frame on the wire: 55 FF type dst src lenHi lenLo hcrc [data crcLo crcHi].
inline Octets Frame(uint8_t type, uint8_t destination, uint8_t source, const Octets& data = {})
{
    Octets f = {0x55, 0xFF, type, destination, source, static_cast<uint8_t>(data.size() >> 8),
                static_cast<uint8_t>(data.size() & 0xFF)};
    uint8_t h = 0xFF;
    for (size_t i = 2; i < 7; ++i)
        h = HeaderCrcStep(f[i], h);
    f.push_back(static_cast<uint8_t>(~h));
    if (!data.empty()) {
        uint16_t d = 0xFFFF;
        for (uint8_t o : data)
            d = DataCrcStep(o, d);
        d = static_cast<uint16_t>(~d);
        f.insert(f.end(), data.begin(), data.end());
        f.push_back(static_cast<uint8_t>(d & 0xFF));
        f.push_back(static_cast<uint8_t>(d >> 8));
    }
    return f;
}

inline void Append(Octets& to, const Octets& more)
{
    to.insert(to.end(), more.begin(), more.end());
}

// Octets as a captured log: upper-case pairs separated by blanks, a line end every perLine octets.
inline std::string ToHexLog(const Octets& octets, size_t perLine = 16)
{
    std::string out;
    out.reserve(octets.size() * 3 + octets.size() / (perLine ? perLine : 1) + 1);
    char pair[4];
    for (size_t i = 0; i < octets.size(); ++i) {
        std::snprintf(pair, sizeof pair, "%02X", octets[i]);
        out += pair;
        bool endOfLine = perLine && ((i + 1) % perLine == 0);
        out += endOfLine ? '\n' : ' ';
    }
    if (!out.empty() && out.back() == ' ')
        out.back() = '\n';
    return out;
}

inline bool WriteFile(const std::string& path, const std::string& text)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

// A small network's traffic: masters pass the token in address order, each holder sometimes polls
// the next address for a new master, sends data to a slave or master (answered), and now and then a
// frame is damaged on the line. Deterministic for a given seed.
struct NetworkSpec {
    std::vector<uint8_t> masters{1, 3, 7};
    std::vector<uint8_t> slaves{20, 21};
    uint8_t missingSlave = 22;      // addressed by requests, never answers
    int outOfTurnTalker = -1;       // a station that sends without holding the token (-1: none)
    double damagePerFrame = 0.0;    // chance a frame gets one corrupted octet
    double dataPerToken = 0.3;      // chance the holder sends a request before passing the token
    uint32_t seed = 1;
};

struct Traffic {
    Octets octets;
    size_t frames = 0;
    size_t damaged = 0;
};

inline Traffic Generate(const NetworkSpec& spec, size_t targetOctets)
{
    Traffic t;
    std::mt19937 rng(spec.seed);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    auto emit = [&](Octets f) {
        if (spec.damagePerFrame > 0 && chance(rng) < spec.damagePerFrame && f.size() > 3) {
            size_t at = 2 + rng() % (f.size() - 2);
            f[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
            ++t.damaged;
        }
        Append(t.octets, f);
        ++t.frames;
    };
    auto payload = [&](size_t n) {
        Octets d(n);
        for (auto& o : d)
            o = static_cast<uint8_t>(rng());
        if (n > 0)
            d[0] = 0x01; // BACnet NPDU version
        return d;
    };
    size_t m = 0;
    uint8_t pollNext = 0;
    while (t.octets.size() < targetOctets && !spec.masters.empty()) {
        uint8_t holder = spec.masters[m];
        uint8_t next = spec.masters[(m + 1) % spec.masters.size()];
        if (chance(rng) < spec.dataPerToken) {
            std::vector<uint8_t> peers = spec.slaves;
            peers.push_back(spec.missingSlave);
            for (uint8_t other : spec.masters)
                if (other != holder)
                    peers.push_back(other);
            uint8_t to = peers[rng() % peers.size()];
            size_t len = 4 + rng() % 60;
            emit(Frame(DataExpectingReply, to, holder, payload(len)));
            if (to != spec.missingSlave)
                emit(Frame(DataNotExpectingReply, holder, to, payload(4 + rng() % 40)));
        }
        if (chance(rng) < 0.05)
            emit(Frame(DataNotExpectingReply, 255, holder, payload(8 + rng() % 20)));
        if (spec.outOfTurnTalker >= 0 && chance(rng) < 0.02)
            emit(Frame(DataNotExpectingReply, holder, static_cast<uint8_t>(spec.outOfTurnTalker), payload(6)));
        if (chance(rng) < 0.1) {
            // Poll the gap after the holder for a new master; nobody answers.
            pollNext = static_cast<uint8_t>((holder + 1 + rng() % 3) & 0x7F);
            bool isMaster = false;
            for (uint8_t other : spec.masters)
                isMaster |= other == pollNext;
            if (!isMaster)
                emit(Frame(PollForMaster, pollNext, holder));
        }
        emit(Frame(Token, next, holder));
        m = (m + 1) % spec.masters.size();
    }
    return t;
}

} // namespace mstpgen
