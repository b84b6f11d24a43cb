/* The dynamic string (CMString*): text in a 128-byte inline area until it needs more, then in
 * a heap buffer under the string's owner name; and the in-place argument tokenizer. */
#include <cassert>
#include <cstring>
#include <functional>

#include "cmhash.h"
#include "cmutils.h"
#include "sysmem.h"

namespace {

bool initialised(const CMString* str) {
    return (str->flags & CMSTRING_INITIALIZED) != 0 && str->capacity != 0;
}

RTS_RESULT check(const CMString* str) {
    if (str == nullptr) return RES_PARAMETER;
    return initialised(str) ? RES_OK : RES_NOTINITIALIZED;
}

char* text_of(CMString* str) {
    assert(initialised(str));
    return (str->flags & CMSTRING_HEAP) != 0 ? str->data.heapText : str->data.inlineText;
}

/* Sets up an empty string: a heap buffer of exactly capacity bytes, or the inline area. The
 * object is only written when everything could be had. */
RTS_RESULT init_empty(CMString* str, const char* owner, RTS_SIZE capacity, bool heap) {
    CMString fresh{};
    fresh.owner = owner;
    if (heap) {
        if (capacity == 0) return RES_PARAMETER;
        fresh.data.heapText = static_cast<char*>(SysMemAllocData(owner, capacity, nullptr));
        if (fresh.data.heapText == nullptr) return RES_NOMEMORY;
        fresh.capacity = capacity;
        fresh.flags = CMSTRING_HEAP | CMSTRING_INITIALIZED;
    } else {
        fresh.capacity = CMSTRING_INLINE_SIZE;
        fresh.flags = CMSTRING_INLINE | CMSTRING_INITIALIZED;
    }
    *str = fresh;
    return RES_OK;
}

/* Grows to need bytes when the capacity is smaller. A source text that lies inside the old
 * buffer (appending a string to itself) is moved along to the new one. */
RTS_RESULT grow_for(CMString* str, RTS_SIZE need, const char** text) {
    if (need <= str->capacity) return RES_OK;
    const char* old = text_of(str);
    std::less_equal<const char*> le;
    bool inside = le(old, *text) && !le(old + str->capacity, *text);
    RTS_SIZE offset = inside ? static_cast<RTS_SIZE>(*text - old) : 0;
    RTS_RESULT r = CMStringExtend(str, need);
    if (r == RES_OK && inside) *text = text_of(str) + offset;
    return r;
}

/* Cuts trailing spaces, then trailing separators. */
void strip_trailing(char* line, char separator) {
    RTS_SIZE n = std::strlen(line);
    while (n > 0 && line[n - 1] == ' ') --n;
    while (n > 0 && line[n - 1] == separator) --n;
    line[n] = '\0';
}

} // namespace

extern "C" RTS_RESULT CMStringCreate2(CMString* str, const char* owner, const char* text, int forceHeap) {
    if (str == nullptr || owner == nullptr) return RES_PARAMETER;
    if (text == nullptr) text = "";
    RTS_SIZE length = std::strlen(text);
    bool heap = forceHeap != 0 || length >= CMSTRING_INLINE_SIZE;
    RTS_RESULT r = init_empty(str, owner, heap ? length + 1 : CMSTRING_INLINE_SIZE, heap);
    if (r != RES_OK) return r;
    std::memcpy(text_of(str), text, length + 1);
    return RES_OK;
}

extern "C" RTS_RESULT CMStringCreate(CMString* str, const char* owner, const char* text) {
    return CMStringCreate2(str, owner, text, 0);
}

extern "C" RTS_RESULT CMStringCreate3(CMString* str, const char* owner, RTS_SIZE capacity, int forceHeap) {
    if (str == nullptr || owner == nullptr) return RES_PARAMETER;
    bool heap = forceHeap != 0 || capacity > CMSTRING_INLINE_SIZE;
    return init_empty(str, owner, heap ? capacity : CMSTRING_INLINE_SIZE, heap);
}

extern "C" RTS_RESULT CMStringDelete(CMString* str) {
    if (RTS_RESULT r = check(str); r != RES_OK) return r;
    if ((str->flags & CMSTRING_HEAP) != 0) SysMemFreeData(str->owner, str->data.heapText);
    *str = CMString{};
    return RES_OK;
}

extern "C" RTS_RESULT CMStringExtend(CMString* str, RTS_SIZE newCapacity) {
    if (RTS_RESULT r = check(str); r != RES_OK) return r;
    if (newCapacity <= str->capacity) return RES_OK;
    char* buffer = static_cast<char*>(SysMemAllocData(str->owner, newCapacity, nullptr));
    if (buffer == nullptr) return RES_NOMEMORY;
    const char* old = text_of(str);
    RTS_SIZE length = CMUtlStrNLen(old, str->capacity - 1);
    std::memcpy(buffer, old, length);
    buffer[length] = '\0';
    if ((str->flags & CMSTRING_HEAP) != 0) SysMemFreeData(str->owner, str->data.heapText);
    str->data.heapText = buffer;
    str->capacity = newCapacity;
    str->flags = (str->flags & ~CMSTRING_INLINE) | CMSTRING_HEAP;
    return RES_OK;
}

extern "C" RTS_RESULT CMStringCat(CMString* str, const char* text) {
    if (RTS_RESULT r = check(str); r != RES_OK) return r;
    if (text == nullptr) return RES_PARAMETER;
    RTS_SIZE length = std::strlen(text_of(str));
    RTS_SIZE added = std::strlen(text);
    if (RTS_RESULT r = grow_for(str, length + added + 1, &text); r != RES_OK) return r;
    std::memmove(text_of(str) + length, text, added + 1);
    return RES_OK;
}

extern "C" RTS_RESULT CMStringCopy(CMString* str, const char* text, RTS_SIZE n) {
    if (RTS_RESULT r = check(str); r != RES_OK) return r;
    if (text == nullptr) return RES_PARAMETER;
    if (RTS_RESULT r = grow_for(str, CMUtlStrNLen(text, n) + 1, &text); r != RES_OK) return r;
    return CMUtlSafeStrCpy(text_of(str), str->capacity, text);
}

extern "C" RTS_RESULT CMStringCopy2(CMString* str, const char* text) {
    if (RTS_RESULT r = check(str); r != RES_OK) return r;
    if (text == nullptr) return RES_PARAMETER;
    if (RTS_RESULT r = grow_for(str, std::strlen(text) + 1, &text); r != RES_OK) return r;
    return CMUtlSafeStrCpy(text_of(str), str->capacity, text);
}

extern "C" RTS_RESULT CMUtlArgumentTokenizer(char* line, char** tokens, RTS_UI32* pCount,
                                             const char* separator) {
    if (line == nullptr || pCount == nullptr) return RES_PARAMETER;
    if (separator == nullptr) separator = " ";
    if (separator[0] == '\0' || separator[1] != '\0') return RES_PARAMETER;
    if (tokens == nullptr && *pCount != CMUTL_TOKENIZER_COUNT_ONLY) return RES_PARAMETER;
    const char sep = separator[0];
    const RTS_UI32 capacity = *pCount;
    *pCount = 0;
    if (line[0] == '\0' || capacity == 0) return RES_OK;

    char* p = line;
    while (*p == ' ') ++p;
    strip_trailing(p, sep);

    RTS_UI32 count = 0;
    while (count < capacity) {
        while (*p == sep) ++p;
        char* end = std::strchr(p, sep);
        char* start = CMUtlSkipWhiteSpace(p);
        if (end != nullptr && start > end) start = end; /* a blank separator ends the skip */
        const bool last = count + 1 == capacity;
        /* The last allowed token keeps the rest of the line, separators and all. */
        const bool nonEmpty = (end == nullptr || last) ? *start != '\0' : start < end;
        if (tokens != nullptr) tokens[count] = start;
        if (nonEmpty) ++count;
        if (end == nullptr) break;
        if (!last) *end = '\0';
        p = end + 1;
    }
    *pCount = count;
    return RES_OK;
}
