// Fuzzes both encoding checks on the same bytes, read once as UTF-8 and once as UTF-16 units,
// with a length that may stop inside a sequence. Neither may read past the length, and each
// must agree with its conversion about whether the text needs a replacement.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "cmutils.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t length = data[0] % (size + 1); // at most the bytes that follow
    if (length > size - 1) return 0;
    std::vector<char> text(data + 1, data + 1 + length);

    static const RTS_WCHAR kEmpty[1] = {0}; // an empty vector may hand out a null pointer
    RTS_RESULT r8 = CMUtlCheckUtf8Encoding(length > 0 ? text.data() : "", length);
    if (r8 != RES_OK && r8 != RES_INVALID_ENCODING) std::abort();
    if (length > 0) {
        std::vector<RTS_WCHAR> out(4 * length + 1);
        RTS_RESULT c = CMUtlUtf8ToW(text.data(), length, out.data(), out.size());
        if ((c == RES_CHARS_REPLACED) != (r8 == RES_INVALID_ENCODING)) std::abort();
    }

    std::vector<RTS_WCHAR> units(length / 2);
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<RTS_WCHAR>(static_cast<std::uint8_t>(text[2 * i]) |
                                          (static_cast<std::uint8_t>(text[2 * i + 1]) << 8));
    RTS_RESULT r16 = CMUtlCheckUtf16Encoding(units.empty() ? kEmpty : units.data(), units.size());
    if (r16 != RES_OK && r16 != RES_INVALID_ENCODING) std::abort();
    if (!units.empty()) {
        std::vector<char> out(4 * units.size() + 1);
        RTS_RESULT c = CMUtlWToUtf8(units.data(), units.size(), out.data(), out.size());
        if ((c == RES_CHARS_REPLACED) != (r16 == RES_INVALID_ENCODING)) std::abort();
    }
    if (CMUtlCheckUtf8Encoding(nullptr, length) != RES_PARAMETER) std::abort();
    return 0;
}
