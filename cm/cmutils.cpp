/* Utility library, strings and memory: the bounded 8-bit string functions, both families of
 * 16-bit string functions and the memory copies. None of them allocates or keeps state; every
 * pointer and size is checked before the output is touched. */
#include <cctype>
#include <cstdint>
#include <cstring>

#include "cmutils.h"

namespace {

int lower(char c) {
    return std::tolower(static_cast<unsigned char>(c));
}
int upper(char c) {
    return std::toupper(static_cast<unsigned char>(c));
}

RTS_SIZE bounded_len(const char* s, RTS_SIZE n) {
    RTS_SIZE i = 0;
    while (i < n && s[i] != '\0') ++i;
    return i;
}

/* Copies up to `limit` characters of source and terminates; answers how many were copied. */
RTS_SIZE copy_terminated(char* dest, const char* source, RTS_SIZE limit) {
    RTS_SIZE i = 0;
    for (; i < limit && source[i] != '\0'; ++i) dest[i] = source[i];
    dest[i] = '\0';
    return i;
}

template <int (*convert)(char)> char* change_case(char* s) {
    if (s == nullptr) return nullptr;
    for (char* p = s; *p != '\0'; ++p) *p = static_cast<char>(convert(*p));
    return s;
}

/* ---- 16-bit helpers shared by the w and cw families ---------------------------------------- */

RTS_SIZE wlen(const RTS_WCHAR* s) {
    RTS_SIZE n = 0;
    if (s != nullptr)
        while (s[n] != 0) ++n;
    return n;
}

RTS_SIZE wlen_bounded(const RTS_WCHAR* s, RTS_SIZE n) {
    RTS_SIZE i = 0;
    while (i < n && s[i] != 0) ++i;
    return i;
}

/* Copies at most size-1 units and terminates; true when the whole source fit. */
bool wcopy(RTS_WCHAR* dest, RTS_SIZE size, const RTS_WCHAR* source) {
    RTS_SIZE i = 0;
    for (; i + 1 < size && source[i] != 0; ++i) dest[i] = source[i];
    dest[i] = 0;
    return source[i] == 0;
}

RTS_RESULT wncopy(RTS_WCHAR* dest, RTS_SIZE size, const RTS_WCHAR* source, RTS_SIZE n) {
    if (n == 0) {
        if (dest != nullptr && size > 0) dest[0] = 0;
        return RES_OK;
    }
    if (dest == nullptr || source == nullptr || size == 0) return RES_FAILED;
    RTS_SIZE i = 0;
    for (; i < n && i + 1 < size && source[i] != 0; ++i) dest[i] = source[i];
    dest[i] = 0;
    return i == n ? RES_OK : RES_FAILED;
}

/* Appends all of source or nothing; `full` is the answer when it would not fit. */
RTS_RESULT wappend(RTS_WCHAR* dest, RTS_SIZE size, const RTS_WCHAR* source, RTS_RESULT full) {
    if (dest == nullptr || source == nullptr) return RES_PARAMETER;
    RTS_SIZE used = wlen_bounded(dest, size);
    RTS_SIZE add = wlen(source);
    if (used >= size || add >= size - used) return full;
    for (RTS_SIZE i = 0; i <= add; ++i) dest[used + i] = source[i];
    return RES_OK;
}

int wcompare(const RTS_WCHAR* s1, const RTS_WCHAR* s2, RTS_SIZE n) {
    if (s1 == nullptr || s2 == nullptr) return 0;
    for (RTS_SIZE i = 0; i < n; ++i) {
        if (s1[i] != s2[i]) return static_cast<int>(s1[i]) - static_cast<int>(s2[i]);
        if (s1[i] == 0) break;
    }
    return 0;
}

RTS_WCHAR* wfind(const RTS_WCHAR* s, RTS_WCHAR c) {
    if (s == nullptr) return nullptr;
    for (; *s != 0; ++s)
        if (*s == c) return const_cast<RTS_WCHAR*>(s);
    return nullptr;
}

/* Shifts the ASCII letters between `from` and `to` by `delta`; nothing else changes. */
RTS_WCHAR* wshift_case(RTS_WCHAR* s, RTS_WCHAR from, RTS_WCHAR to, int delta) {
    if (s == nullptr) return nullptr;
    for (RTS_WCHAR* p = s; *p != 0; ++p)
        if (*p >= from && *p <= to) *p = static_cast<RTS_WCHAR>(*p + delta);
    return s;
}

RTS_WCHAR* wlower(RTS_WCHAR* s) {
    return wshift_case(s, u'A', u'Z', 'a' - 'A');
}
RTS_WCHAR* wupper(RTS_WCHAR* s) {
    return wshift_case(s, u'a', u'z', 'A' - 'a');
}

/* Byte copy that moves a long word and then a word at a time once both pointers sit on a word
 * boundary. Pointers whose distance is not a multiple of a word never align and are copied
 * byte by byte. */
void aligned_copy(unsigned char* d, const unsigned char* s, RTS_SIZE n) {
    constexpr RTS_SIZE kWord = sizeof(RTS_UI32), kLongWord = sizeof(RTS_UI64);
    auto misaligned = [&] {
        return ((reinterpret_cast<std::uintptr_t>(d) | reinterpret_cast<std::uintptr_t>(s)) % kWord) != 0;
    };
    for (; n > 0 && misaligned(); --n) *d++ = *s++;
    if (!misaligned()) {
        for (; n >= kLongWord; n -= kLongWord, d += kLongWord, s += kLongWord) std::memcpy(d, s, kLongWord);
        if (n >= kWord) {
            std::memcpy(d, s, kWord);
            n -= kWord, d += kWord, s += kWord;
        }
    }
    for (; n > 0; --n) *d++ = *s++;
}

} // namespace

/* ---- 8-bit strings ------------------------------------------------------------------------- */

extern "C" RTS_RESULT CMUtlSafeStrCpy(char* dest, RTS_SIZE size, const char* source) {
    if (dest == nullptr || source == nullptr || size == 0) return RES_PARAMETER;
    RTS_SIZE n = copy_terminated(dest, source, size - 1);
    return source[n] == '\0' ? RES_OK : RES_BUFFERSIZE;
}

extern "C" RTS_RESULT CMUtlSafeStrCpy2(char* dest, RTS_SIZE size, const char* source) {
    return CMUtlSafeStrCpy(dest, size, source);
}

extern "C" RTS_RESULT CMUtlSafeStrNCpy(char* dest, RTS_SIZE size, const char* source, RTS_SIZE n) {
    if (dest == nullptr || source == nullptr || size == 0) return RES_PARAMETER;
    copy_terminated(dest, source, n < size - 1 ? n : size - 1);
    return size < n ? RES_BUFFERSIZE : RES_OK;
}

extern "C" RTS_RESULT CMUtlSafeStrCat(char* dest, RTS_SIZE size, const char* source) {
    if (dest == nullptr || source == nullptr || size == 0) return RES_PARAMETER;
    RTS_SIZE used = bounded_len(dest, size);
    if (used == size) { // not terminated inside its buffer: cut it where the buffer ends
        dest[size - 1] = '\0';
        return RES_BUFFERSIZE;
    }
    RTS_SIZE n = copy_terminated(dest + used, source, size - 1 - used);
    return source[n] == '\0' ? RES_OK : RES_BUFFERSIZE;
}

extern "C" RTS_SIZE CMUtlStrLen(const char* s) {
    return s == nullptr ? 0 : std::strlen(s);
}

extern "C" RTS_SIZE CMUtlStrNLen(const char* s, RTS_SIZE n) {
    return s == nullptr ? 0 : bounded_len(s, n);
}

extern "C" int CMUtlStrICmp(const char* s1, const char* s2) {
    if (s1 == nullptr || s2 == nullptr) return -1;
    for (; *s1 != '\0' && *s2 != '\0'; ++s1, ++s2) {
        int d = lower(*s1) - lower(*s2);
        if (d != 0) return d;
    }
    if (*s1 == *s2) return 0;
    return *s1 != '\0' ? 1 : -1;
}

extern "C" int CMUtlStrNICmp(const char* s1, const char* s2, RTS_SIZE n) {
    if (s1 == nullptr || s2 == nullptr) return -1;
    for (RTS_SIZE i = 0; i < n; ++i) {
        auto a = static_cast<unsigned char>(s1[i]);
        auto b = static_cast<unsigned char>(s2[i]);
        if (a == '\0' || b == '\0') return a - b;
        int d = lower(s1[i]) - lower(s2[i]);
        if (d != 0) return d;
    }
    return 0;
}

extern "C" char* CMUtlStrIStr(const char* haystack, const char* needle) {
    if (haystack == nullptr || needle == nullptr || *haystack == '\0') return nullptr;
    for (const char* h = haystack; *h != '\0'; ++h) {
        RTS_SIZE i = 0;
        while (needle[i] != '\0' && lower(h[i]) == lower(needle[i])) ++i;
        if (needle[i] == '\0') return const_cast<char*>(h);
    }
    return nullptr;
}

extern "C" char* CMUtlStrRChr(const char* start, const char* from, char c) {
    if (start == nullptr || from == nullptr || from < start) return nullptr;
    for (const char* p = from;; --p) {
        if (*p == c) return const_cast<char*>(p);
        if (p == start) return nullptr;
    }
}

extern "C" char* CMUtlStrToLower(char* s) {
    return change_case<lower>(s);
}
extern "C" char* CMUtlStrToUpper(char* s) {
    return change_case<upper>(s);
}
extern "C" char* CMUtlStrlwr(char* s) {
    return change_case<lower>(s);
}
extern "C" char* CMUtlStrupr(char* s) {
    return change_case<upper>(s);
}

extern "C" char* CMUtlStrrev(char* s) {
    if (s == nullptr) return nullptr;
    RTS_SIZE n = std::strlen(s);
    for (RTS_SIZE i = 0; i + 1 < n - i; ++i) {
        char t = s[i];
        s[i] = s[n - 1 - i];
        s[n - 1 - i] = t;
    }
    return s;
}

extern "C" char* CMUtlSkipWhiteSpace(const char* s) {
    if (s == nullptr) return nullptr;
    while (*s == ' ' || *s == '\t') ++s;
    return const_cast<char*>(s);
}

/* ---- 16-bit strings ------------------------------------------------------------------------ */

extern "C" RTS_SIZE CMUtlwstrlen(const RTS_WCHAR* s) {
    return wlen(s);
}
extern "C" RTS_SIZE CMUtlcwstrlen(const RTS_WCHAR* s) {
    return wlen(s);
}

extern "C" RTS_RESULT CMUtlwstrcpy(RTS_WCHAR* dest, RTS_SIZE size, const RTS_WCHAR* source) {
    if (dest == nullptr || source == nullptr || size == 0) return RES_PARAMETER;
    return wcopy(dest, size, source) ? RES_OK : RES_BUFFERSIZE;
}

extern "C" RTS_RESULT CMUtlcwstrcpy(RTS_WCHAR* dest, RTS_SIZE size, const RTS_WCHAR* source) {
    if (dest == nullptr || source == nullptr || size == 0) return RES_PARAMETER;
    wcopy(dest, size, source);
    return RES_OK;
}

extern "C" RTS_RESULT CMUtlwstrncpy(RTS_WCHAR* dest, RTS_SIZE size, const RTS_WCHAR* source, RTS_SIZE n) {
    return wncopy(dest, size, source, n);
}

extern "C" RTS_RESULT CMUtlcwstrncpy(RTS_WCHAR* dest, RTS_SIZE size, const RTS_WCHAR* source, RTS_SIZE n) {
    return wncopy(dest, size, source, n);
}

extern "C" RTS_RESULT CMUtlwstrcat(RTS_WCHAR* dest, RTS_SIZE size, const RTS_WCHAR* source) {
    return wappend(dest, size, source, RES_BUFFERSIZE);
}

extern "C" RTS_RESULT CMUtlcwstrcat(RTS_WCHAR* dest, RTS_SIZE size, const RTS_WCHAR* source) {
    return wappend(dest, size, source, RES_PARAMETER);
}

extern "C" int CMUtlwstrcmp(const RTS_WCHAR* s1, const RTS_WCHAR* s2) {
    return wcompare(s1, s2, SIZE_MAX);
}
extern "C" int CMUtlcwstrcmp(const RTS_WCHAR* s1, const RTS_WCHAR* s2) {
    return wcompare(s1, s2, SIZE_MAX);
}
extern "C" int CMUtlwstrncmp(const RTS_WCHAR* s1, const RTS_WCHAR* s2, RTS_SIZE n) {
    return wcompare(s1, s2, n);
}

extern "C" RTS_WCHAR* CMUtlwstrchr(const RTS_WCHAR* s, RTS_WCHAR c) {
    return wfind(s, c);
}
extern "C" RTS_WCHAR* CMUtlcwstrchr(const RTS_WCHAR* s, RTS_WCHAR c) {
    return wfind(s, c);
}

extern "C" RTS_WCHAR* CMUtlwtolower(RTS_WCHAR* s) {
    return wlower(s);
}
extern "C" RTS_WCHAR* CMUtlcwtolower(RTS_WCHAR* s) {
    return wlower(s);
}
extern "C" RTS_WCHAR* CMUtlwtoupper(RTS_WCHAR* s) {
    return wupper(s);
}
extern "C" RTS_WCHAR* CMUtlcwtoupper(RTS_WCHAR* s) {
    return wupper(s);
}

/* ---- memory -------------------------------------------------------------------------------- */

extern "C" void* CMUtlMemCpy(void* dest, const void* source, RTS_SIZE n) {
    if (dest != nullptr && source != nullptr)
        aligned_copy(static_cast<unsigned char*>(dest), static_cast<const unsigned char*>(source), n);
    return dest;
}

extern "C" RTS_RESULT CMUtlSafeMemCpy(void* dest, RTS_SIZE destSize, const void* source, RTS_SIZE n) {
    if (dest == nullptr || source == nullptr || destSize < n) return RES_PARAMETER;
    aligned_copy(static_cast<unsigned char*>(dest), static_cast<const unsigned char*>(source), n);
    return RES_OK;
}

extern "C" RTS_RESULT CMUtlSafeMemMove(void* dest, RTS_SIZE destSize, const void* source, RTS_SIZE n) {
    if (dest == nullptr || source == nullptr || destSize < n) return RES_PARAMETER;
    std::memmove(dest, source, n);
    return RES_OK;
}
