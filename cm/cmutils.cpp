/* Utility library: bounded string functions and the bounded formatter. */
#include <cstdio>

#include "cmutils.h"

extern "C" RTS_RESULT CMUtlSafeStrCpy(char* dest, RTS_SIZE size, const char* source) {
    if (dest == nullptr || source == nullptr || size == 0) return RES_PARAMETER;
    RTS_SIZE i = 0;
    for (; i + 1 < size && source[i] != '\0'; ++i) dest[i] = source[i];
    dest[i] = '\0';
    return source[i] == '\0' ? RES_OK : RES_BUFFERSIZE;
}

namespace {
int lower_ascii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }
} // namespace

extern "C" int CMUtlStrICmp(const char* s1, const char* s2) {
    const auto* a = reinterpret_cast<const unsigned char*>(s1);
    const auto* b = reinterpret_cast<const unsigned char*>(s2);
    for (;; ++a, ++b) {
        int d = lower_ascii(*a) - lower_ascii(*b);
        if (d != 0 || *a == '\0') return d;
    }
}

extern "C" RTS_RESULT CMUtlvsnprintf(char* buffer, RTS_SIZE size, const char* format, va_list args) {
    if (buffer == nullptr || size == 0 || format == nullptr) return RES_PARAMETER;
    int n = std::vsnprintf(buffer, size, format, args);
    if (n < 0) return RES_FAILED;
    return static_cast<RTS_SIZE>(n) < size ? RES_OK : RES_BUFFERSIZE;
}

extern "C" RTS_RESULT CMUtlsnprintf(char* buffer, RTS_SIZE size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    RTS_RESULT r = CMUtlvsnprintf(buffer, size, format, args);
    va_end(args);
    return r;
}
