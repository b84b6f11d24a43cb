// Checksums: published check values, zero-length and piecewise updates, the finished-value
// chaining of CRC32Update, and random buffers split at random points (long ones are checked in
// parallel parts) against the reference library where it is at hand, else the byte loop.
#include <gtest/gtest.h>

#include <random>
#include <string_view>
#include <tuple>
#include <vector>

#include "checksum.h"

#if __has_include(<zlib.h>)
#include <zlib.h>
#define HAVE_REFERENCE_CRC32 1
#endif

namespace {

RTS_UI32 size_of(std::string_view text) {
    return static_cast<RTS_UI32>(text.size());
}

TEST(Checksum, PublishedValuesAndEverySplitOfTheCrc16Data) {
    const struct {
        std::string_view text;
        RTS_UI16 crc16;
        RTS_UI32 crc32;
    } cases[] = {
        {"123456789", 0xE5CC, 0xCBF43926},
        {"", 0x1D0F, 0x00000000},
        {"A", 0x9479, 0xD3D99E8B},
    };
    for (const auto& c : cases) {
        // CRC32Update finishes at once, so one update over the whole data gives the CRC; the splits
        // of the CRC-32 data are checked against the reference below.
        EXPECT_EQ(CRC32Finish(CRC32Update(CRC32Init(), c.text.data(), size_of(c.text))), c.crc32) << c.text;
        for (RTS_SIZE cut = 0; cut <= c.text.size(); ++cut) {
            const std::string_view head = c.text.substr(0, cut), tail = c.text.substr(cut);
            const RTS_UI16 reg16 = CRC16Update(CRC16Init(), head.data(), size_of(head));
            EXPECT_EQ(CRC16Finish(CRC16Update(reg16, tail.data(), size_of(tail))), c.crc16) << c.text << cut;
        }
    }
}

// No data (a null pointer; an empty piece is among the splits above) leaves the register as it
// is, but for CRC32Update, which finishes it.
TEST(Checksum, NoDataLeavesTheRegisterAndCrc32UpdateChainsFinishedValues) {
    EXPECT_EQ(std::make_tuple(CRC16Update(0x1234, nullptr, 5), CRC32Update2(0x12345678u, nullptr, 7),
                              CRC32Update(0x12345678u, nullptr, 7)),
              std::make_tuple(RTS_UI16{0x1234}, 0x12345678u, ~0x12345678u));
    // A second CRC32Update starts from the finished (inverted) value, not from the register.
    const RTS_UI32 first = CRC32Update(CRC32Init(), "1234", 4);
    EXPECT_EQ(CRC32Update(first, "56789", 5), CRC32Finish2(CRC32Update2(first, "56789", 5)));
    EXPECT_NE(CRC32Update(first, "56789", 5), 0xCBF43926u);
}

// The reference CRC-32 of a buffer: the reference library where it is installed, else the byte
// loop, whose table the published values check.
RTS_UI32 reference_crc32(const std::vector<RTS_UI8>& data) {
#ifdef HAVE_REFERENCE_CRC32
    return static_cast<RTS_UI32>(crc32(0L, data.data(), static_cast<uInt>(data.size())));
#else
    RTS_UI32 reg = CRC32Init();
    for (RTS_UI8 b : data) reg = CRC32Update2(reg, &b, 1);
    return CRC32Finish2(reg);
#endif
}

TEST(Checksum, Crc32AgreesWithTheReferenceOnRandomSplitBuffers) {
    std::mt19937 rng(20250520);
    std::vector<RTS_UI8> data;
    for (int round = 0; round < 3000; ++round) {
        // A third of the buffers are long enough to be checked in parallel parts.
        data.resize(round % 3 == 0 ? rng() % 40000 : rng() % 2048);
        for (RTS_UI8& b : data) b = static_cast<RTS_UI8>(rng());
        const auto size = static_cast<RTS_UI32>(data.size());
        RTS_UI32 reg = CRC32Init();
        for (RTS_UI32 done = 0, piece = 0; done < size; done += piece) {
            piece = rng() % (size - done + 1);
            reg = CRC32Update2(reg, data.data() + done, piece);
        }
        ASSERT_EQ(CRC32Finish2(reg), reference_crc32(data)) << "round " << round << " size " << size;
    }
}

} // namespace
