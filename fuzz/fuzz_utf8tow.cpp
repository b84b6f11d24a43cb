// Fuzzes the UTF-8 to UTF-16 conversion: any bytes, any destination size. The output may not
// leave its buffer, must be terminated whenever the input stops at a NUL before its length, and
// must report a replacement exactly when the encoding check calls the same text invalid.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "cmutils.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t destSize = data[0] % 64 + 1;
    const bool terminated = (data[1] & 1) != 0; // source NUL-terminated and the length beyond it
    std::vector<char> source(data + 2, data + size);
    std::size_t length = source.size();
    if (terminated) {
        source.push_back('\0');
        length = source.size() + 1000;
    }
    if (length == 0) return 0;
    std::vector<RTS_WCHAR> dest(destSize);
    RTS_RESULT r = CMUtlUtf8ToW(source.data(), length, dest.data(), dest.size());
    if (r != RES_OK && r != RES_BUFFERSIZE && r != RES_CHARS_REPLACED) std::abort();

    const bool stopsAtNul = std::find(source.begin(), source.end(), '\0') != source.end();
    if (stopsAtNul && std::find(dest.begin(), dest.end(), 0) == dest.end()) std::abort();

    if (r != RES_BUFFERSIZE) {
        const bool invalid = CMUtlCheckUtf8Encoding(source.data(), length) == RES_INVALID_ENCODING;
        if (invalid != (r == RES_CHARS_REPLACED)) std::abort();
    }
    return 0;
}
