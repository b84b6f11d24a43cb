// Fuzz target for the in-place argument tokenizer: the first byte picks the separator and the
// capacity, the rest is the line. Tokens must lie inside the line, be terminated there, be
// non-empty, and counting without a token array must agree with a roomy token array and with
// any call that did not fill its capacity.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cmhash.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

constexpr char kSeparators[] = {' ', ',', '\t', ';', '"', 'a', '\\', '='};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const char sep[2] = {kSeparators[data[0] % sizeof kSeparators], '\0'};
    const RTS_UI32 capacity = data[0] >> 3;
    const size_t length = size - 1;

    // Exactly sized heap copies so that any read or write outside the line is caught.
    std::vector<char> line(data + 1, data + size);
    line.push_back('\0');
    const size_t cstrLength = std::strlen(line.data());
    std::vector<char*> tokens(capacity + 1, nullptr);
    RTS_UI32 count = capacity;
    check(CMUtlArgumentTokenizer(line.data(), tokens.data(), &count, sep) == RES_OK);
    check(count <= capacity);
    for (RTS_UI32 i = 0; i < count; ++i) {
        check(tokens[i] >= line.data() && tokens[i] < line.data() + cstrLength);
        check(tokens[i][0] != '\0');
    }
    check(tokens[capacity] == nullptr);

    std::vector<char> counted(data + 1, data + size);
    counted.push_back('\0');
    RTS_UI32 total = CMUTL_TOKENIZER_COUNT_ONLY;
    check(CMUtlArgumentTokenizer(counted.data(), nullptr, &total, sep) == RES_OK);
    std::vector<char> roomy(data + 1, data + size);
    roomy.push_back('\0');
    std::vector<char*> all(length + 2, nullptr);
    RTS_UI32 roomyCount = static_cast<RTS_UI32>(length + 1);
    check(CMUtlArgumentTokenizer(roomy.data(), all.data(), &roomyCount, sep) == RES_OK);
    check(total == roomyCount);
    // Below its capacity the tokenizer merged nothing, so it found what a roomy one finds.
    check(count == capacity || count == total);
    return 0;
}
