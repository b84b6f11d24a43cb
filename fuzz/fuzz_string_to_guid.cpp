/* Fuzzes the GUID text reader: any text is either refused with RES_INVALID_FORMAT or read into
 * a GUID whose standard text reads back to the same GUID. */
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cmutils_guid.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size); /* stops at an inner NUL */
    RTS_GUID guid;
    std::memset(&guid, 0xA5, sizeof guid);
    const RTS_RESULT r = CMUtlStringToGUID(text.c_str(), &guid);
    if (r == RES_INVALID_FORMAT) return 0;
    if (r != RES_OK) std::abort();
    char buffer[37];
    if (CMUtlGUIDToString(&guid, buffer, sizeof buffer) != RES_OK) std::abort();
    RTS_GUID back;
    if (CMUtlStringToGUID(buffer, &back) != RES_OK || std::memcmp(&back, &guid, sizeof guid) != 0)
        std::abort();
    return 0;
}
