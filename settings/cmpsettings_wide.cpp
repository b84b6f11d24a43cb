/* Wide settings. A wide value is kept in the configuration file as 8-bit text, two bytes per
 * UTF-16 code unit, low byte first: a printable ASCII unit as the character itself followed by
 * "\00" (its zero high byte), any other unit as "\ll\hh" in lower-case hexadecimal. The reader
 * takes every "\" as the start of a two-digit byte, drops double quotes, and refuses text that is
 * not valid UTF-16 as if the key were missing. */
#include <cstring>

#include "cmplog.h"
#include "cmpsettings.h"
#include "cmutils.h"
#include "settings/cmpsettings_internal.h"
#include "sysmem.h"

namespace {

constexpr RTS_SIZE kStackText = 256;  /* encoded values up to 255 bytes stay on the stack */
constexpr RTS_SIZE kStoredText = 512; /* a wide read takes at most 511 stored characters */
constexpr RTS_I32 kCompareUnits = 255;

RTS_SIZE encoded_length(RTS_WCHAR unit) {
    return unit >= 0x20 && unit <= 0x7E ? 4 : 6;
}

void encode(const RTS_WCHAR* value, RTS_SIZE units, char* out) {
    static const char kHex[] = "0123456789abcdef";
    for (RTS_SIZE i = 0; i < units; ++i) {
        const RTS_WCHAR u = value[i];
        if (encoded_length(u) == 4) {
            *out++ = static_cast<char>(u);
        } else {
            *out++ = '\\';
            *out++ = kHex[(u >> 4) & 0xF];
            *out++ = kHex[u & 0xF];
        }
        *out++ = '\\';
        *out++ = kHex[(u >> 12) & 0xF];
        *out++ = kHex[(u >> 8) & 0xF];
    }
    *out = '\0';
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* The byte of up to two hexadecimal digits at text, as a base-16 parse stops at the first
 * character that is no digit; *used counts the characters taken, the "\" excluded. */
unsigned char escaped_byte(const char* text, RTS_SIZE left, RTS_SIZE* used) {
    unsigned value = 0;
    RTS_SIZE digits = 0;
    for (; digits < 2 && digits < left && hex_digit(text[digits]) >= 0; ++digits)
        value = value * 16 + static_cast<unsigned>(hex_digit(text[digits]));
    *used = left < 2 ? left : 2;
    return static_cast<unsigned char>(value);
}

/* Decodes text into at most capacity units (0: no limit) of out; returns the units laid down,
 * *cut set when the text had more. The byte count is kept in *bytes. */
RTS_SIZE decode(std::string_view text, RTS_WCHAR* out, RTS_SIZE capacity, bool* cut, RTS_SIZE* bytes) {
    RTS_SIZE n = 0;
    *cut = false;
    for (RTS_SIZE i = 0; i < text.size();) {
        unsigned char byte = static_cast<unsigned char>(text[i++]);
        if (byte == '"') continue;
        if (byte == '\\') {
            RTS_SIZE used = 0;
            byte = escaped_byte(text.data() + i, text.size() - i, &used);
            i += used;
        }
        if (capacity != 0 && n / 2 >= capacity) {
            *cut = true;
            break;
        }
        if (n % 2 == 0)
            out[n / 2] = byte;
        else
            out[n / 2] = static_cast<RTS_WCHAR>(out[n / 2] | (byte << 8));
        ++n;
    }
    *bytes = n;
    out[(n + 1) / 2] = 0;
    return (n + 1) / 2;
}

RTS_RESULT wide_default(RTS_WCHAR* buffer, RTS_I32* pLength, RTS_I32 size, const RTS_WCHAR* defaultValue) {
    if (defaultValue == nullptr) {
        if (pLength != nullptr) *pLength = 0;
        if (buffer != nullptr) buffer[0] = 0;
        return RES_FAILED;
    }
    const auto length = static_cast<RTS_I32>(CMUtlwstrlen(defaultValue));
    if (buffer == nullptr) {
        if (pLength != nullptr) *pLength = size != 0 && length + 1 > size ? size : length + 1;
        return RES_FAILED;
    }
    const RTS_RESULT copied = CMUtlwstrcpy(buffer, static_cast<RTS_SIZE>(size), defaultValue);
    *pLength = static_cast<RTS_I32>(CMUtlwstrlen(buffer));
    return copied == RES_BUFFERSIZE ? RES_BUFFERSIZE : RES_FAILED;
}

void log_invalid(const char* format, const char* component, const char* key) {
    LogAdd(nullptr, settg::kCmpId, LOG_ERROR, RES_INVALID_ENCODING, 0, format, component, key);
}

} // namespace

extern "C" RTS_RESULT SettgGetWStringValue(const char* component, const char* key, RTS_WCHAR* buffer,
                                           RTS_I32* pLength, const RTS_WCHAR* defaultValue, int reload) {
    RTS_I32 size = 0;
    const RTS_RESULT checked = settg::read_arguments(component, key, buffer, pLength, &size);
    if (checked != RES_OK) return checked;
    char text[kStoredText];
    RTS_I32 length = sizeof text;
    RTS_RESULT result = SettgGetStringValue(component, key, text, &length, nullptr, reload);
    if (result != RES_OK && result != RES_BUFFERSIZE)
        return wide_default(buffer, pLength, size, defaultValue);
    RTS_WCHAR scratch[kStoredText];
    RTS_WCHAR* out = buffer != nullptr ? buffer : scratch;
    bool cut = false;
    RTS_SIZE bytes = 0;
    const RTS_SIZE units = decode(std::string_view(text, static_cast<RTS_SIZE>(length)), out,
                                  buffer != nullptr ? static_cast<RTS_SIZE>(size - 1) : 0, &cut, &bytes);
    if (CMUtlCheckUtf16Encoding(out, units) != RES_OK) {
        log_invalid("Invalid UTF-16 character in %s setting %s", component, key);
        return wide_default(buffer, pLength, size, defaultValue);
    }
    if (cut) result = RES_BUFFERSIZE;
    if (pLength != nullptr)
        *pLength = static_cast<RTS_I32>(buffer != nullptr ? CMUtlwstrlen(out) : bytes / 2 + 1);
    return result;
}

extern "C" RTS_RESULT SettgSetWStringValue(const char* component, const char* key, const RTS_WCHAR* value,
                                           RTS_I32 maxLength) {
    if (component == nullptr || key == nullptr || value == nullptr) return RES_PARAMETER;
    RTS_SIZE units = CMUtlwstrlen(value);
    if (maxLength > 0 && static_cast<RTS_SIZE>(maxLength) < units) units = static_cast<RTS_SIZE>(maxLength);
    if (CMUtlCheckUtf16Encoding(value, units) != RES_OK) {
        log_invalid("Invalid UFT-16 character for %s setting %s", component, key);
        return RES_INVALID_ENCODING;
    }
    RTS_WCHAR current[kCompareUnits];
    RTS_I32 length = kCompareUnits;
    const RTS_WCHAR empty[] = {0};
    if (SettgGetWStringValue(component, key, current, &length, empty, 0) == RES_OK &&
        CMUtlwstrcmp(current, value) == 0)
        return RES_OK;
    RTS_SIZE size = 1;
    for (RTS_SIZE i = 0; i < units; ++i) size += encoded_length(value[i]);
    char stack[kStackText];
    char* text =
        size <= sizeof stack ? stack : static_cast<char*>(SysMemAllocData(settg::kSection, size, nullptr));
    if (text == nullptr) return RES_NOMEMORY;
    encode(value, units, text);
    const RTS_RESULT result = SettgSetStringValue(component, key, text, 0);
    if (text != stack) SysMemFreeData(settg::kSection, text);
    return result;
}
