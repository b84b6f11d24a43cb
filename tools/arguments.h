/* Reading the numbers of the tools' command lines, one definition for every tool. */
#ifndef TOOLS_ARGUMENTS_H
#define TOOLS_ARGUMENTS_H

#include <cerrno>
#include <cstdint>
#include <cstdlib>

/* Reads a whole word as an unsigned 32-bit number: decimal digits, or hexadecimal digits after
 * "0x". False for anything else (no word, a sign or blank, trailing text, too large). */
inline bool read_number(const char* text, std::uint32_t& out) {
    if (text == nullptr || *text < '0' || *text > '9') return false;
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, hex ? 16 : 10);
    if (*end != '\0' || errno == ERANGE || value > 0xFFFFFFFFull) return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

#endif
