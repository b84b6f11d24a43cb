/* CmpChecksum: CRC-16 and CRC-32 checksums, one built-in 256-entry table each, generated at
 * compile time from the polynomials. */
#include <array>

#include "checksum.h"
#include "cm.h"

namespace {

constexpr RTS_UI32 kCrc16Polynomial = 0x1021;      /* most significant bit first */
constexpr RTS_UI32 kCrc32Polynomial = 0xEDB88320u; /* reflected */

/* Entry i is the remainder of i * 2^8 divided by 0x1021, most significant bit first. */
constexpr std::array<RTS_UI16, 256> make_crc16_table() {
    std::array<RTS_UI16, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = i << 8;
        for (int bit = 0; bit < 8; ++bit) r = (r & 0x8000u) != 0 ? (r << 1) ^ kCrc16Polynomial : r << 1;
        table[i] = static_cast<RTS_UI16>(r);
    }
    return table;
}

/* The reflected table of the standard CRC-32 (polynomial 0xEDB88320). */
constexpr std::array<RTS_UI32, 256> make_crc32_table() {
    std::array<RTS_UI32, 256> table{};
    for (RTS_UI32 i = 0; i < 256; ++i) {
        RTS_UI32 r = i;
        for (int bit = 0; bit < 8; ++bit) r = (r & 1u) != 0 ? (r >> 1) ^ kCrc32Polynomial : r >> 1;
        table[i] = r;
    }
    return table;
}

constexpr auto kCrc16Table = make_crc16_table();
constexpr auto kCrc32Table = make_crc32_table();
static_assert(kCrc16Table[1] == kCrc16Polynomial && kCrc32Table[1] == 0x77073096);

RTS_UI16 crc16_step(RTS_UI16 crc, RTS_UI8 byte) {
    return static_cast<RTS_UI16>(((crc << 8) | byte) ^ kCrc16Table[crc >> 8]);
}

RTS_UI32 crc32_step(RTS_UI32 crc, RTS_UI8 byte) {
    return (crc >> 8) ^ kCrc32Table[(crc ^ byte) & 0xFFu];
}

/* a * b modulo the polynomial, both in the reflected bit order of the register. */
RTS_UI32 multiply_mod_poly(RTS_UI32 a, RTS_UI32 b) {
    RTS_UI32 product = 0;
    for (RTS_UI32 bit = 0x80000000u; bit != 0; bit >>= 1) {
        if ((a & bit) != 0) product ^= b;
        b = (b & 1u) != 0 ? (b >> 1) ^ kCrc32Polynomial : b >> 1;
    }
    return product;
}

/* What feeding `count` zero bytes does to a register: a multiplication by x^(8 * count). */
RTS_UI32 shift_by_bytes(RTS_UI32 crc, RTS_SIZE count) {
    RTS_UI32 power = 0x00800000u; /* x^8 */
    for (; count != 0; count >>= 1) {
        if ((count & 1u) != 0) crc = multiply_mod_poly(power, crc);
        power = multiply_mod_poly(power, power);
    }
    return crc;
}

/* The byte loop waits for each table look-up before the next can start. Long buffers are cut
 * into eight parts whose registers run side by side through the same table; the parts are then
 * joined by shifting each register past the bytes that follow it. */
constexpr RTS_SIZE kStreams = 8;
constexpr RTS_SIZE kInterleaveFrom = 4096;

RTS_UI32 crc32_feed_interleaved(RTS_UI32 crc, const RTS_UI8* p, RTS_SIZE size) {
    const RTS_SIZE part = size / kStreams;
    RTS_UI32 reg[kStreams] = {crc};
    for (RTS_SIZE i = 0; i < part; ++i)
        for (RTS_SIZE s = 0; s < kStreams; ++s) reg[s] = crc32_step(reg[s], p[s * part + i]);
    for (RTS_SIZE i = kStreams * part; i < size; ++i) reg[kStreams - 1] = crc32_step(reg[kStreams - 1], p[i]);
    RTS_UI32 joined = reg[0];
    for (RTS_SIZE s = 1; s < kStreams; ++s) {
        const RTS_SIZE length = s + 1 < kStreams ? part : size - (kStreams - 1) * part;
        joined = shift_by_bytes(joined, length) ^ reg[s];
    }
    return joined;
}

RTS_UI32 crc32_feed(RTS_UI32 crc, const void* data, RTS_UI32 size) {
    if (data == nullptr) return crc;
    const auto* p = static_cast<const RTS_UI8*>(data);
    if (size >= kInterleaveFrom) return crc32_feed_interleaved(crc, p, size);
    for (const RTS_UI8* end = p + size; p != end; ++p) crc = crc32_step(crc, *p);
    return crc;
}

const CMExportEntry kExports[] = {
    CM_EXPORT(CRC16Init),   CM_EXPORT(CRC16Update),  CM_EXPORT(CRC16Finish), CM_EXPORT(CRC32Init),
    CM_EXPORT(CRC32Update), CM_EXPORT(CRC32Update2), CM_EXPORT(CRC32Finish), CM_EXPORT(CRC32Finish2),
    CM_EXPORT(crc16init),   CM_EXPORT(crc16update),  CM_EXPORT(crc16finish), CM_EXPORT(crc32init),
    CM_EXPORT(crc32update), CM_EXPORT(crc32update2), CM_EXPORT(crc32finish), {nullptr, nullptr, 0, 0},
};

RTS_RESULT export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_CmpChecksum);
}

RTS_RESULT hook_function(RTS_UI32 hook, RTS_UINTPTR param1, RTS_UINTPTR param2) {
    return RES_OK;
}

} // namespace

extern "C" RTS_RESULT CmpChecksum__Entry(ComponentInitRecord* pInit) {
    return CMFillInitRecord(pInit, CMPID_CmpChecksum, export_functions, nullptr, CMComponentVersion,
                            hook_function);
}

extern "C" RTS_UI16 CRC16Init(void) {
    return 0xFFFF;
}

extern "C" RTS_UI16 CRC16Update(RTS_UI16 usCRC, const void* pData, RTS_UI32 ulSize) {
    if (pData == nullptr) return usCRC;
    const auto* p = static_cast<const RTS_UI8*>(pData);
    for (const RTS_UI8* end = p + ulSize; p != end; ++p) usCRC = crc16_step(usCRC, *p);
    return usCRC;
}

extern "C" RTS_UI16 CRC16Finish(RTS_UI16 usCRC) {
    return crc16_step(crc16_step(usCRC, 0), 0);
}

extern "C" RTS_UI32 CRC32Init(void) {
    return 0xFFFFFFFFu;
}

extern "C" RTS_UI32 CRC32Update2(RTS_UI32 ulCRC, const void* pData, RTS_UI32 ulSize) {
    return crc32_feed(ulCRC, pData, ulSize);
}

extern "C" RTS_UI32 CRC32Finish2(RTS_UI32 ulCRC) {
    return ulCRC ^ 0xFFFFFFFFu;
}

extern "C" RTS_UI32 CRC32Update(RTS_UI32 ulCRC, const void* pData, RTS_UI32 ulSize) {
    return crc32_feed(ulCRC, pData, ulSize) ^ 0xFFFFFFFFu;
}

extern "C" RTS_UI32 CRC32Finish(RTS_UI32 ulCRC) {
    return ulCRC;
}

extern "C" void crc16init(crc16init_struct* p) {
    p->CRC16Init = CRC16Init();
}
extern "C" void crc16update(crc16update_struct* p) {
    p->CRC16Update = CRC16Update(p->usCRC, p->pData, p->ulSize);
}
extern "C" void crc16finish(crc16finish_struct* p) {
    p->CRC16Finish = CRC16Finish(p->usCRC);
}
extern "C" void crc32init(crc32init_struct* p) {
    p->CRC32Init = CRC32Init();
}
extern "C" void crc32update(crc32update_struct* p) {
    p->CRC32Update = CRC32Update(p->ulCRC, p->pData, p->ulSize);
}
extern "C" void crc32update2(crc32update2_struct* p) {
    p->CRC32Update2 = CRC32Update2(p->ulCRC, p->pData, p->ulSize);
}
extern "C" void crc32finish(crc32finish_struct* p) {
    p->CRC32Finish = CRC32Finish(p->ulCRC);
}
