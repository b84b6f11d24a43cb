/* Utility library: GUID texts in their three accepted forms and hex texts of byte arrays. */
#include <cassert>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "cmutils_guid.h"

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr int kHexBits = 4;                           /* the bits of one hex digit */
constexpr int kHexPerByte = 2;                        /* bytes are written "%02x" */
constexpr std::size_t kGuidBytes = sizeof(RTS_GUID);  /* the bytes a text must give */
constexpr int kGuidDigits = kHexPerByte * kGuidBytes; /* and the hex digits that gives them */
constexpr std::size_t kDataFourFirstGroup = 2;        /* Data4 is written 2-6: "a765-00a0c91e6bf6" */
constexpr std::size_t kMaxDashes = 4;                 /* the standard form has the most */

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* Appends the value as hex digits, two for each of its bytes, most significant first; returns
 * the end. */
template <class T> char* put_hex(char* out, T value) {
    constexpr int digits = kHexPerByte * static_cast<int>(sizeof value);
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = kHexDigits[value & 0xF];
        value = static_cast<T>(value >> kHexBits);
    }
    return out + digits;
}

RTS_UI32 big_endian32(const RTS_UI8* b) {
    return static_cast<RTS_UI32>(b[0]) << 24 | static_cast<RTS_UI32>(b[1]) << 16 |
           static_cast<RTS_UI32>(b[2]) << 8 | b[3];
}

RTS_UI16 big_endian16(const RTS_UI8* b) {
    return static_cast<RTS_UI16>(b[0] << 8 | b[1]);
}

/* One accepted text form: its minimum length, the positions of its dashes (0 ends the list),
 * whether it is braced, and the range of characters scanned for digits. */
struct GuidForm {
    RTS_SIZE min_length;
    RTS_UI8 dashes[kMaxDashes];
    bool braced;
    RTS_SIZE start;
    RTS_SIZE scanned;
    bool grouped32; /* each 8-digit group is one 32-bit number */
};

constexpr GuidForm kForms[] = {
    {37, {9, 18, 27, 0}, true, 1, 35, false},   /* {xxxxxxxx-xxxxxxxx-xxxxxxxx-xxxxxxxx} */
    {35, {8, 17, 26, 0}, false, 0, 35, true},   /* xxxxxxxx-xxxxxxxx-xxxxxxxx-xxxxxxxx */
    {36, {8, 13, 18, 23}, false, 0, 36, false}, /* xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx */
};

bool matches(std::string_view text, const GuidForm& form) {
    if (text.size() < form.min_length) return false;
    if (form.braced && (text[0] != '{' || text[form.min_length - 1] != '}')) return false;
    for (RTS_UI8 position : form.dashes) {
        if (position != 0 && text[position] != '-') return false;
    }
    return true;
}

/* Collects the hex digits of the scanned range in pairs, skipping anything else; the dashes
 * leave room for exactly 32, and all of them must be there. */
bool collect_bytes(std::string_view text, const GuidForm& form, RTS_UI8 (&bytes)[kGuidBytes]) {
    int digits = 0;
    for (char c : text.substr(form.start, form.scanned)) {
        const int v = hex_value(c);
        if (v < 0) continue;
        assert(digits < kGuidDigits); /* the dashes the form demands leave room for no more */
        RTS_UI8& byte = bytes[digits / kHexPerByte];
        byte = static_cast<RTS_UI8>(digits % kHexPerByte == 0 ? v << kHexBits : byte | v);
        ++digits;
    }
    return digits == kGuidDigits;
}

void store_guid(const RTS_UI8 (&bytes)[kGuidBytes], bool grouped32, RTS_GUID* pGuid) {
    if (grouped32) {
        auto* out = reinterpret_cast<RTS_UI8*>(pGuid);
        for (std::size_t at = 0; at < kGuidBytes; at += sizeof(RTS_UI32)) {
            const RTS_UI32 group = big_endian32(bytes + at);
            std::memcpy(out + at, &group, sizeof group);
        }
        return;
    }
    pGuid->Data1 = big_endian32(bytes + offsetof(RTS_GUID, Data1));
    pGuid->Data2 = big_endian16(bytes + offsetof(RTS_GUID, Data2));
    pGuid->Data3 = big_endian16(bytes + offsetof(RTS_GUID, Data3));
    std::memcpy(pGuid->Data4, bytes + offsetof(RTS_GUID, Data4), sizeof pGuid->Data4);
}

} // namespace

extern "C" const CMExportEntry CMUtlGuidExportTable[] = {
    CM_EXPORT(CMUtlGUIDToString),      CM_EXPORT(CMUtlStringToGUID), CM_EXPORT(CMUtlByteArrayToString),
    CM_EXPORT(CMUtlStringToByteArray), {nullptr, nullptr, 0, 0},
};

extern "C" RTS_RESULT CMUtlGUIDToString(const RTS_GUID* pGuid, char* pszBuffer, RTS_SIZE bufferSize) {
    if (pGuid == nullptr || pszBuffer == nullptr || bufferSize < CMUTL_GUID_TEXT_SIZE) return RES_PARAMETER;
    char* out = put_hex(pszBuffer, pGuid->Data1);
    *out++ = '-';
    out = put_hex(out, pGuid->Data2);
    *out++ = '-';
    out = put_hex(out, pGuid->Data3);
    *out++ = '-';
    for (std::size_t i = 0; i < sizeof pGuid->Data4; ++i) {
        if (i == kDataFourFirstGroup) *out++ = '-';
        out = put_hex(out, pGuid->Data4[i]);
    }
    *out = '\0';
    assert(out == pszBuffer + CMUTL_GUID_TEXT_SIZE - 1);
    return RES_OK;
}

extern "C" RTS_RESULT CMUtlStringToGUID(const char* pszGuid, RTS_GUID* pGuid) {
    if (pszGuid == nullptr || pGuid == nullptr) return RES_PARAMETER;
    const std::string_view text(pszGuid);
    for (const GuidForm& form : kForms) {
        if (!matches(text, form)) continue;
        RTS_UI8 bytes[kGuidBytes] = {};
        if (!collect_bytes(text, form, bytes)) return RES_INVALID_FORMAT;
        store_guid(bytes, form.grouped32, pGuid);
        return RES_OK;
    }
    return RES_INVALID_FORMAT;
}

extern "C" RTS_RESULT CMUtlByteArrayToString(const RTS_UI8* pBytes, RTS_SIZE n, char* pszBuffer,
                                             RTS_SIZE* pSize) {
    if (pBytes == nullptr || pszBuffer == nullptr || pSize == nullptr || n == 0) return RES_PARAMETER;
    if (*pSize == 0 || n > (*pSize - 1) / kHexPerByte) return RES_PARAMETER; /* needs 2n+1 bytes */
    char* out = pszBuffer;
    for (RTS_SIZE i = 0; i < n; ++i) out = put_hex(out, pBytes[i]);
    *out = '\0';
    *pSize = kHexPerByte * n + 1;
    return RES_OK;
}

extern "C" RTS_RESULT CMUtlStringToByteArray(const char* pszText, RTS_UI8* pBytes, RTS_SIZE* pSize) {
    if (pszText == nullptr || pBytes == nullptr || pSize == nullptr) return RES_PARAMETER;
    const RTS_SIZE length = std::strlen(pszText);
    const RTS_SIZE count = length / kHexPerByte;
    if (length == 0 || length % kHexPerByte != 0 || *pSize < count) return RES_PARAMETER;
    for (RTS_SIZE i = 0; i < count; ++i) {
        const int high = hex_value(pszText[kHexPerByte * i]);
        const int low = hex_value(pszText[kHexPerByte * i + 1]);
        if (high < 0 || low < 0) return RES_FAILED;
        pBytes[i] = static_cast<RTS_UI8>(high << kHexBits | low);
    }
    *pSize = count;
    return RES_OK;
}
