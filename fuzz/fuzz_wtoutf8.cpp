// Fuzzes the UTF-16 to UTF-8 conversion: any units, any destination size. The output may not
// leave its buffer, must be terminated whenever the input stops at a NUL before its length,
// must report a replacement exactly when the encoding check calls the text invalid, and valid
// text that fit must come back unchanged through the reverse conversion.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cmutils.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t destSize = data[0] % 128 + 1;
    const bool terminated = (data[1] & 1) != 0;
    std::vector<RTS_WCHAR> source((size - 2) / 2);
    for (std::size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<RTS_WCHAR>(data[2 + 2 * i] | (data[3 + 2 * i] << 8));
    std::size_t length = source.size();
    if (terminated) {
        source.push_back(0);
        length = source.size() + 1000;
    }
    if (length == 0) return 0;
    std::vector<char> dest(destSize);
    RTS_RESULT r = CMUtlWToUtf8(source.data(), length, dest.data(), dest.size());
    if (r != RES_OK && r != RES_BUFFERSIZE && r != RES_CHARS_REPLACED) std::abort();

    const bool stopsAtNul = std::find(source.begin(), source.end(), 0) != source.end();
    const auto nul = std::find(dest.begin(), dest.end(), '\0');
    if (stopsAtNul && nul == dest.end()) std::abort();
    if (r == RES_BUFFERSIZE) return 0;

    const bool invalid = CMUtlCheckUtf16Encoding(source.data(), length) == RES_INVALID_ENCODING;
    if (invalid != (r == RES_CHARS_REPLACED)) std::abort();

    if (r == RES_OK && terminated) {
        const std::size_t bytes = static_cast<std::size_t>(nul - dest.begin());
        if (bytes == 0) return 0; // an empty text has nothing to convert back
        std::vector<RTS_WCHAR> back(source.size() + 1);
        if (CMUtlUtf8ToW(dest.data(), bytes + 1, back.data(), back.size()) != RES_OK) std::abort();
        const std::size_t units = std::find(source.begin(), source.end(), 0) - source.begin();
        if (!std::equal(source.begin(), source.begin() + units + 1, back.begin())) std::abort();
    }
    return 0;
}
