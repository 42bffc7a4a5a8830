#pragma once
// The receive machine's behaviour as a table: octets on the line and the reports they must give.
// Run through the log-file source and through a pseudo-terminal, both with the real worker.
#include <string>
#include <vector>

#include "mstp_test_support.h"

namespace mstptest {

struct ExpectedReport {
    Octets octets;
    int source;
    int destination;
    int valid;
    int errorKind;
};

struct ReceiveCase {
    std::string name;
    Octets input;
    std::vector<ExpectedReport> expected;
};

inline Octets Cat(std::initializer_list<Octets> parts)
{
    Octets out;
    for (const Octets& p : parts)
        mstpgen::Append(out, p);
    return out;
}

inline Octets Slice(const Octets& o, size_t from, size_t count = std::string::npos)
{
    size_t end = count == std::string::npos ? o.size() : std::min(o.size(), from + count);
    return Octets(o.begin() + static_cast<long>(from), o.begin() + static_cast<long>(end));
}

// A data frame of the given data whose two CRC octets are replaced by crc (which must be wrong).
inline Octets WithDataCrc(uint8_t type, uint8_t dst, uint8_t src, const Octets& data, Octets crc)
{
    Octets f = mstpgen::Frame(type, dst, src, data);
    Octets good = Slice(f, f.size() - 2);
    EXPECT_NE(good, crc) << "the replaced CRC octets happen to be right";
    f.resize(f.size() - 2);
    mstpgen::Append(f, crc);
    return f;
}

inline ExpectedReport Valid(const Octets& f, int src, int dst)
{
    return {f, src, dst, 1, 0};
}
inline ExpectedReport Damaged(const Octets& f, int src, int dst, int kind)
{
    return {f, src, dst, 0, kind};
}

inline std::vector<ReceiveCase> ReceiveCases()
{
    using mstpgen::Frame;
    const Octets token = Frame(0, 8, 7);             // 55 FF 00 08 07 00 00 73
    const Octets token2 = Frame(0, 10, 8);           // 55 FF 00 0A 08 00 00 63
    const Octets data = Frame(6, 5, 0x11, {1, 0});   // 55 FF 06 05 11 00 02 BC 01 00 9F 16
    std::vector<ReceiveCase> cases;

    cases.push_back({"Token", token, {Valid(token, 7, 8)}});
    cases.push_back({"RepeatedPreambles", Cat({{0x55, 0x55}, token}), {Valid(Cat({{0x55, 0x55}, token}), 7, 8)}});
    cases.push_back({"DataFrame", data, {Valid(data, 0x11, 5)}});
    cases.push_back({"OctetsBetweenFramesAreDropped", Cat({{0x00, 0xFF, 0x12}, token, {0x73, 0xAA}}),
                     {Valid(token, 7, 8)}});
    cases.push_back({"NotFrameStartBeforeAnyHeader", {0x55, 0x12}, {Damaged({0x55, 0x12}, 0, 0, 1)}});
    cases.push_back({"NotFrameStartCarriesLastHeaderAndPreambles", Cat({token, {0x55, 0x55, 0x12}}),
                     {Valid(token, 7, 8), Damaged({0x55, 0x55, 0x12}, 7, 8, 1)}});

    Octets badHeader = token;
    badHeader[7] ^= 0x01;
    cases.push_back({"HeaderCrc", Cat({badHeader, token2}), {Damaged(badHeader, 7, 8, 2), Valid(token2, 8, 10)}});

    // The header CRC octet is itself a 0x55 that opens the next frame.
    Octets crcIsPreamble = Cat({Slice(token, 0, 7), {0x55}});
    cases.push_back({"HeaderCrcOctetOpensNextFrame", Cat({crcIsPreamble, Slice(token2, 1)}),
                     {Damaged(crcIsPreamble, 7, 8, 2), Valid(token2, 8, 10)}});
    cases.push_back({"HeaderCrcOctetIsPreambleOfBadStart", Cat({crcIsPreamble, {0x12}, token2}),
                     {Damaged(crcIsPreamble, 7, 8, 2), Damaged({0x55, 0x12}, 7, 8, 1), Valid(token2, 8, 10)}});

    const Octets header511 = Slice(Frame(6, 5, 7, Octets(511, 0x01)), 0, 8);
    cases.push_back({"DataLength511Refused", Cat({header511, {0x01, 0x02}, token}),
                     {Damaged(header511, 7, 5, 3), Valid(token, 7, 8)}});

    Octets data510(510);
    for (size_t i = 0; i < data510.size(); ++i)
        data510[i] = static_cast<uint8_t>(i * 7 + 1) == 0x55 ? 0x56 : static_cast<uint8_t>(i * 7 + 1);
    const Octets frame510 = Frame(6, 5, 7, data510);
    cases.push_back({"DataLength510AcceptedAndCutTo510", Cat({frame510, token}),
                     {Valid(Slice(frame510, 0, 510), 7, 5), Valid(token, 7, 8)}});
    Octets bad510 = frame510;
    bad510.back() ^= 0x01;
    cases.push_back({"LongDamagedFrameCutTo510", Cat({bad510, token}),
                     {Damaged(Slice(bad510, 0, 510), 7, 5, 4), Valid(token, 7, 8)}});

    Octets badData = data;
    badData.back() ^= 0x01;
    cases.push_back({"DataCrc", Cat({badData, token}), {Damaged(badData, 0x11, 5, 4), Valid(token, 7, 8)}});

    // A whole Token inside a damaged data frame: found again and reported from the replay copy.
    Octets hiding = WithDataCrc(6, 5, 7, Cat({{0x01, 0x02}, token, {0x03}}), {0x00, 0x00});
    cases.push_back({"FrameHiddenInDamagedFrame", Cat({hiding, token2}),
                     {Damaged(hiding, 7, 5, 4), Valid(token, 7, 8), Valid(token2, 8, 10)}});

    // The damaged frame ends with the first half of a Token; its second half arrives as new octets.
    Octets halfOpen = WithDataCrc(6, 5, 7, {0x01, 0x02, 0x03, 0x55, 0xFF}, {0x00, 0x08});
    cases.push_back({"FrameOpenWhenReplayRunsOutIsCompleted", Cat({halfOpen, Slice(token, 4)}),
                     {Damaged(halfOpen, 7, 5, 4), Valid(token, 7, 8)}});

    // A flag left by a broadcast (or a frame to this station) must not cut the next frame.
    const Octets broadcast = Frame(6, 255, 7, {0x01, 0x02});
    const Octets toUs = Frame(0, THIS_STATION, 7);
    const Octets other = Frame(0, 3, 1);
    cases.push_back({"BroadcastThenFrameForOtherStation", Cat({broadcast, other, token}),
                     {Valid(broadcast, 7, 255), Valid(other, 1, 3), Valid(token, 7, 8)}});
    cases.push_back({"FrameToThisStationThenFrameForOtherStation", Cat({toUs, other}),
                     {Valid(toUs, 7, THIS_STATION), Valid(other, 1, 3)}});

    // A bad header found in replay leaves the invalid flag set; the frame that follows it in the
    // replay and goes on with new octets must not be cut when the flag is cleared.
    const Octets hiddenBadHeader = {0x55, 0xFF, 0x00, 0x08, 0x07, 0x00, 0x00, 0x74};
    Octets flagged = WithDataCrc(6, 5, 7, Cat({{0x01}, hiddenBadHeader, {0x55, 0xFF}}), {0x00, 0x08});
    cases.push_back({"InvalidFlagFromReplayDoesNotCutFrame", Cat({flagged, Slice(token, 4)}),
                     {Damaged(flagged, 7, 5, 4), Damaged(hiddenBadHeader, 7, 8, 2), Valid(token, 7, 8)}});

    // A bad header that ends in replay with one octet still to replay is reported all the same.
    Octets oneLeft = WithDataCrc(6, 5, 7, Cat({{0x01}, Slice(hiddenBadHeader, 0, 7)}), {0x74, 0xAA});
    cases.push_back({"HeaderCrcInReplayWithOneOctetLeft", Cat({oneLeft, token2}),
                     {Damaged(oneLeft, 7, 5, 4), Damaged(hiddenBadHeader, 7, 8, 2), Valid(token2, 8, 10)}});

    // Frames reported from the replay copy carry their true octets, repeated preambles included.
    const Octets token2Repeated = Cat({{0x55}, token2});
    Octets twoHidden = WithDataCrc(6, 5, 7, Cat({{0x01}, token, token2Repeated, {0x02}}), {0x00, 0x00});
    cases.push_back({"ReplayReportsTrueOctets", twoHidden,
                     {Damaged(twoHidden, 7, 5, 4), Valid(token, 7, 8), Valid(token2Repeated, 8, 10)}});
    Octets badStartHidden = WithDataCrc(6, 5, 7, Cat({{0x01}, token, {0x55, 0x55, 0x12}}), {0x00, 0x00});
    cases.push_back({"ReplayNotFrameStartTrueOctets", Cat({badStartHidden, token2}),
                     {Damaged(badStartHidden, 7, 5, 4), Valid(token, 7, 8), Damaged({0x55, 0x55, 0x12}, 7, 8, 1),
                      Valid(token2, 8, 10)}});
    Octets dataHidden = WithDataCrc(6, 5, 7, Cat({{0x01}, data, {0x02}}), {0x00, 0x00});
    cases.push_back({"DataFrameHiddenInDamagedFrame", dataHidden,
                     {Damaged(dataHidden, 7, 5, 4), Valid(data, 0x11, 5)}});
    return cases;
}

inline void ExpectReports(const std::vector<ExpectedReport>& expected, const std::vector<Report>& got)
{
    std::string gotText;
    for (const Report& r : got)
        gotText += std::to_string(r.errorKind) + ": " + Hex(r.octets);
    ASSERT_EQ(got.size(), expected.size()) << gotText;
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE("report " + std::to_string(i));
        EXPECT_EQ(Hex(got[i].octets), Hex(expected[i].octets));
        EXPECT_EQ(got[i].source, expected[i].source);
        EXPECT_EQ(got[i].destination, expected[i].destination);
        EXPECT_EQ(got[i].valid, expected[i].valid);
        EXPECT_EQ(got[i].errorKind, expected[i].errorKind);
    }
}

} // namespace mstptest
