/* Utility library: GUID texts in their three accepted forms and hex texts of byte arrays. */
#include <cstring>
#include <string_view>

#include "cmutils_guid.h"

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* Appends value as `digits` hex digits, most significant first; returns the end. */
char* put_hex(char* out, RTS_UI64 value, int digits) {
    for (int i = digits - 1; i >= 0; --i) out[i] = kHexDigits[value & 0xF], value >>= 4;
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
    RTS_UI8 dashes[4];
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
bool collect_bytes(std::string_view text, const GuidForm& form, RTS_UI8 (&bytes)[16]) {
    int digits = 0;
    for (char c : text.substr(form.start, form.scanned)) {
        const int v = hex_value(c);
        if (v < 0) continue;
        bytes[digits / 2] = static_cast<RTS_UI8>(digits % 2 == 0 ? v << 4 : bytes[digits / 2] | v);
        ++digits;
    }
    return digits == 32;
}

void store_guid(const RTS_UI8 (&bytes)[16], bool grouped32, RTS_GUID* pGuid) {
    if (grouped32) {
        auto* out = reinterpret_cast<RTS_UI8*>(pGuid);
        for (int g = 0; g < 4; ++g) {
            const RTS_UI32 group = big_endian32(bytes + 4 * g);
            std::memcpy(out + 4 * g, &group, sizeof group);
        }
        return;
    }
    pGuid->Data1 = big_endian32(bytes);
    pGuid->Data2 = big_endian16(bytes + 4);
    pGuid->Data3 = big_endian16(bytes + 6);
    std::memcpy(pGuid->Data4, bytes + 8, sizeof pGuid->Data4);
}

} // namespace

extern "C" const CMExportEntry CMUtlGuidExportTable[] = {
    {reinterpret_cast<RTS_VOID_FCTPTR>(CMUtlGUIDToString), "CMUtlGUIDToString", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(CMUtlStringToGUID), "CMUtlStringToGUID", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(CMUtlByteArrayToString), "CMUtlByteArrayToString", 0, 0},
    {reinterpret_cast<RTS_VOID_FCTPTR>(CMUtlStringToByteArray), "CMUtlStringToByteArray", 0, 0},
    {nullptr, nullptr, 0, 0},
};

extern "C" RTS_RESULT CMUtlGUIDToString(const RTS_GUID* pGuid, char* pszBuffer, RTS_SIZE bufferSize) {
    if (pGuid == nullptr || pszBuffer == nullptr || bufferSize < 37) return RES_PARAMETER;
    char* out = put_hex(pszBuffer, pGuid->Data1, 8);
    *out++ = '-';
    out = put_hex(out, pGuid->Data2, 4);
    *out++ = '-';
    out = put_hex(out, pGuid->Data3, 4);
    *out++ = '-';
    for (int i = 0; i < 8; ++i) {
        if (i == 2) *out++ = '-';
        out = put_hex(out, pGuid->Data4[i], 2);
    }
    *out = '\0';
    return RES_OK;
}

extern "C" RTS_RESULT CMUtlStringToGUID(const char* pszGuid, RTS_GUID* pGuid) {
    if (pszGuid == nullptr || pGuid == nullptr) return RES_PARAMETER;
    const std::string_view text(pszGuid);
    for (const GuidForm& form : kForms) {
        if (!matches(text, form)) continue;
        RTS_UI8 bytes[16] = {};
        if (!collect_bytes(text, form, bytes)) return RES_INVALID_FORMAT;
        store_guid(bytes, form.grouped32, pGuid);
        return RES_OK;
    }
    return RES_INVALID_FORMAT;
}

extern "C" RTS_RESULT CMUtlByteArrayToString(const RTS_UI8* pBytes, RTS_SIZE n, char* pszBuffer,
                                             RTS_SIZE* pSize) {
    if (pBytes == nullptr || pszBuffer == nullptr || pSize == nullptr || n == 0) return RES_PARAMETER;
    if (*pSize == 0 || n > (*pSize - 1) / 2) return RES_PARAMETER; /* needs 2n+1 bytes */
    char* out = pszBuffer;
    for (RTS_SIZE i = 0; i < n; ++i) out = put_hex(out, pBytes[i], 2);
    *out = '\0';
    *pSize = 2 * n + 1;
    return RES_OK;
}

extern "C" RTS_RESULT CMUtlStringToByteArray(const char* pszText, RTS_UI8* pBytes, RTS_SIZE* pSize) {
    if (pszText == nullptr || pBytes == nullptr || pSize == nullptr) return RES_PARAMETER;
    const RTS_SIZE length = std::strlen(pszText);
    if (length == 0 || length % 2 != 0 || *pSize < length / 2) return RES_PARAMETER;
    for (RTS_SIZE i = 0; i < length / 2; ++i) {
        const int high = hex_value(pszText[2 * i]);
        const int low = hex_value(pszText[2 * i + 1]);
        if (high < 0 || low < 0) return RES_FAILED;
        pBytes[i] = static_cast<RTS_UI8>(high << 4 | low);
    }
    *pSize = length / 2;
    return RES_OK;
}
