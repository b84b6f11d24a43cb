/* Fuzzes the hex text reader of byte arrays: it never writes beyond the room it is given, and
 * what it reads writes back as the same text in lower case. */
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cmutils_guid.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const RTS_SIZE room = data[0] % 64; /* the first byte chooses the room */
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<RTS_UI8> bytes(room); /* exactly the room: a write past it is an overflow */
    RTS_SIZE got = room;
    const RTS_RESULT r = CMUtlStringToByteArray(text.c_str(), room > 0 ? bytes.data() : nullptr, &got);
    if (r != RES_OK) {
        if (got != room) std::abort(); /* a refusal reports no size */
        return 0;
    }
    if (got > room || got * 2 != std::char_traits<char>::length(text.c_str())) std::abort();
    std::vector<char> back(2 * got + 1);
    RTS_SIZE back_size = back.size();
    if (CMUtlByteArrayToString(bytes.data(), got, back.data(), &back_size) != RES_OK) std::abort();
    for (RTS_SIZE i = 0; i < 2 * got; ++i) {
        if (back[i] != std::tolower(static_cast<unsigned char>(text[i]))) std::abort();
    }
    return 0;
}
