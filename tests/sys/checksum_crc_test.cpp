/* Checksums: published check values, the fixed table entries, zero-length and
 * piecewise updates, the finished-value chaining of CRC32Update, the wrappers, and (where the
 * reference library is at hand) agreement with it on random buffers split at random points. */
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string_view>
#include <vector>

#include "checksum.h"

#if __has_include(<zlib.h>)
#include <zlib.h>
#define HAVE_REFERENCE_CRC32 1
#endif

namespace {

RTS_UI16 crc16_of(std::string_view text) {
    return CRC16Finish(CRC16Update(CRC16Init(), text.data(), static_cast<RTS_UI32>(text.size())));
}

RTS_UI32 crc32_of(std::string_view text) {
    return CRC32Finish2(CRC32Update2(CRC32Init(), text.data(), static_cast<RTS_UI32>(text.size())));
}

TEST(Checksum, KnownValues) {
    struct Case {
        std::string_view text;
        RTS_UI16 crc16;
        RTS_UI32 crc32;
    };
    const Case cases[] = {
        {"123456789", 0xE5CC, 0xCBF43926},
        {"abc", 0x8CDA, 0x352441C2},
        {"", 0x1D0F, 0x00000000},
        {"A", 0x9479, 0xD3D99E8B},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(crc16_of(c.text), c.crc16) << c.text;
        EXPECT_EQ(crc32_of(c.text), c.crc32) << c.text;
        const RTS_UI32 once =
            CRC32Finish(CRC32Update(CRC32Init(), c.text.data(), static_cast<RTS_UI32>(c.text.size())));
        EXPECT_EQ(once, c.crc32) << c.text;
    }
}

TEST(Checksum, ZeroLengthUpdatesKeepTheRegister) {
    const char byte = 'x';
    for (RTS_UI16 reg : {RTS_UI16{0}, RTS_UI16{0xFFFF}, RTS_UI16{0x1234}}) {
        EXPECT_EQ(CRC16Update(reg, &byte, 0), reg);
        EXPECT_EQ(CRC16Update(reg, nullptr, 5), reg);
    }
    for (RTS_UI32 reg : {0u, 0xFFFFFFFFu, 0x12345678u}) {
        EXPECT_EQ(CRC32Update2(reg, &byte, 0), reg);
        EXPECT_EQ(CRC32Update(reg, &byte, 0), ~reg);
        EXPECT_EQ(CRC32Update2(reg, nullptr, 7), reg);
    }
    EXPECT_EQ(CRC32Update(CRC32Init(), nullptr, 0), 0u);
}

TEST(Checksum, SplittingDataAnywhereGivesTheSameCrc) {
    const std::string_view text = "The quick brown fox jumps over the lazy dog";
    const RTS_UI32 whole32 = crc32_of(text);
    const RTS_UI16 whole16 = crc16_of(text);
    EXPECT_EQ(whole32, 0x414FA339u);
    for (RTS_SIZE cut = 0; cut <= text.size(); ++cut) {
        const auto head = static_cast<RTS_UI32>(cut);
        const auto tail = static_cast<RTS_UI32>(text.size() - cut);
        RTS_UI32 reg = CRC32Update2(CRC32Init(), text.data(), head);
        EXPECT_EQ(CRC32Finish2(CRC32Update2(reg, text.data() + cut, tail)), whole32) << cut;
        RTS_UI16 reg16 = CRC16Update(CRC16Init(), text.data(), head);
        EXPECT_EQ(CRC16Finish(CRC16Update(reg16, text.data() + cut, tail)), whole16) << cut;
    }
}

TEST(Checksum, Crc32UpdateContinuesFromTheFinishedValue) {
    /* A second CRC32Update starts from the finished value, i.e. from the inverted register, so
     * it does not equal one update over both pieces. */
    const char a[] = "1234", b[] = "56789";
    const RTS_UI32 first = CRC32Update(CRC32Init(), a, 4);
    EXPECT_EQ(first, CRC32Finish2(CRC32Update2(CRC32Init(), a, 4)));
    EXPECT_EQ(CRC32Update(first, b, 5), CRC32Finish2(CRC32Update2(first, b, 5)));
    EXPECT_NE(CRC32Update(first, b, 5), 0xCBF43926u);
    EXPECT_EQ(CRC32Finish(first), first);
}

TEST(Checksum, WrappersStoreTheResults) {
    const char data[] = "123456789";
    crc16init_struct i16{};
    crc16init(&i16);
    crc16update_struct u16{i16.CRC16Init, data, 9, 0};
    crc16update(&u16);
    crc16finish_struct f16{u16.CRC16Update, 0};
    crc16finish(&f16);
    EXPECT_EQ(f16.CRC16Finish, 0xE5CC);

    crc32init_struct i32{};
    crc32init(&i32);
    crc32update2_struct u2{i32.CRC32Init, data, 9, 0};
    crc32update2(&u2);
    EXPECT_EQ(CRC32Finish2(u2.CRC32Update2), 0xCBF43926u);
    crc32update_struct u{i32.CRC32Init, data, 9, 0};
    crc32update(&u);
    crc32finish_struct f{u.CRC32Update, 0};
    crc32finish(&f);
    EXPECT_EQ(f.CRC32Finish, 0xCBF43926u);
}

TEST(Checksum, LongBuffersInOneCallEqualByteByByte) {
    std::mt19937 rng(7);
    for (RTS_UI32 size : {4095u, 4096u, 4097u, 4099u, 65536u, 100003u}) {
        std::vector<RTS_UI8> data(size);
        for (RTS_UI8& b : data) b = static_cast<RTS_UI8>(rng());
        RTS_UI32 bytewise = CRC32Init();
        for (RTS_UI8 b : data) bytewise = CRC32Update2(bytewise, &b, 1);
        EXPECT_EQ(CRC32Update2(CRC32Init(), data.data(), size), bytewise) << size;
        EXPECT_EQ(CRC32Update2(0x12345678u, data.data(), size),
                  [&] {
                      RTS_UI32 r = 0x12345678u;
                      for (RTS_UI8 b : data) r = CRC32Update2(r, &b, 1);
                      return r;
                  }())
            << "any starting register, size " << size;
    }
}

#ifdef HAVE_REFERENCE_CRC32
TEST(Checksum, Crc32AgreesWithReferenceOnRandomSplitBuffers) {
    std::mt19937 rng(20250520);
    std::vector<RTS_UI8> data;
    for (int round = 0; round < 3000; ++round) {
        // A third of the buffers are long enough to be checked in parallel parts.
        data.resize(round % 3 == 0 ? rng() % 40000 : rng() % 2048);
        for (RTS_UI8& b : data) b = static_cast<RTS_UI8>(rng());
        const auto size = static_cast<RTS_UI32>(data.size());
        const auto expected = static_cast<RTS_UI32>(crc32(0L, data.data(), size));
        RTS_UI32 reg = CRC32Init();
        RTS_UI32 done = 0;
        while (done < size) {
            const RTS_UI32 piece = rng() % (size - done + 1);
            reg = CRC32Update2(reg, data.data() + done, piece);
            done += piece;
        }
        ASSERT_EQ(CRC32Finish2(reg), expected) << "round " << round << " size " << size;
        ASSERT_EQ(CRC32Update(CRC32Init(), data.data(), size), expected);
    }
}
#endif

} // namespace
