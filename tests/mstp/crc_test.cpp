#include <gtest/gtest.h>

#include "mstp/mstp_stack.h"
#include "support/mstp_frames.h"

namespace {

BYTE HeaderRegister(const std::vector<uint8_t>& octets, size_t from, size_t to)
{
    BYTE crc = 0xFF;
    for (size_t i = from; i < to; ++i)
        crc = CalcHeaderCRC(octets[i], crc);
    return crc;
}

uint16_t DataRegister(const std::vector<uint8_t>& octets, size_t from, size_t to)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = from; i < to; ++i)
        crc = CalcDataCRC(octets[i], crc);
    return crc;
}

} // namespace

TEST(Crc, TokenHeaderLeavesResidue55)
{
    const std::vector<uint8_t> token = {0x55, 0xFF, 0x00, 0x08, 0x07, 0x00, 0x00, 0x73};
    EXPECT_EQ(HeaderRegister(token, 2, 8), 0x55);
    EXPECT_EQ(static_cast<BYTE>(~HeaderRegister(token, 2, 7)), 0x73);
}

TEST(Crc, DataFrameHeaderAndDataResidues)
{
    const std::vector<uint8_t> frame = {0x55, 0xFF, 0x06, 0x05, 0x11, 0x00, 0x02, 0xBC, 0x01, 0x00, 0x9F, 0x16};
    EXPECT_EQ(HeaderRegister(frame, 2, 8), 0x55);
    EXPECT_EQ(DataRegister(frame, 8, 12), 0xF0B8);
    uint16_t sent = static_cast<uint16_t>(~DataRegister(frame, 8, 10));
    EXPECT_EQ(sent & 0xFF, 0x9F);
    EXPECT_EQ(sent >> 8, 0x16);
}

// Every single-bit error in a header is caught.
TEST(Crc, AnyFlippedHeaderBitBreaksResidue)
{
    const std::vector<uint8_t> token = {0x55, 0xFF, 0x00, 0x08, 0x07, 0x00, 0x00, 0x73};
    for (size_t i = 2; i < 8; ++i)
        for (int bit = 0; bit < 8; ++bit) {
            std::vector<uint8_t> bad = token;
            bad[i] ^= static_cast<uint8_t>(1u << bit);
            EXPECT_NE(HeaderRegister(bad, 2, 8), 0x55) << i << ":" << bit;
        }
}

// Against the test-side builder, which computes both CRCs independently, over many random frames.
TEST(Crc, AgreesWithIndependentBuilder)
{
    std::mt19937 rng(7);
    for (int n = 0; n < 200; ++n) {
        std::vector<uint8_t> data(rng() % 80 + 1);
        for (auto& o : data)
            o = static_cast<uint8_t>(rng());
        auto f = mstpgen::Frame(static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                                static_cast<uint8_t>(rng()), data);
        EXPECT_EQ(HeaderRegister(f, 2, 8), 0x55);
        EXPECT_EQ(DataRegister(f, 8, f.size()), 0xF0B8);
    }
}
