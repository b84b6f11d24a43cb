// Fuzz target for the configuration-file database: the first two bytes give the length of a file
// text (any bytes: NULs, lone CRs, unbalanced brackets, long lines), the rest is a list of reads,
// writes, removals, section appends and filters on it. Files are a table of platform calls that
// accept everything and keep nothing, so only the text in memory is at stake. After every step
// the text must end with its two zero bytes, a read must stay inside its buffer and a pointer into
// the text inside the text, and a refused value must leave the text as it was.
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>

#include "cm.h"
#include "cmpinifile.h"
#include "sys/sysfile_os.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

int g_file; /* the one "open file" */

const sysfile_os::Calls kNoFiles = {
    [](const char*, RTS_UI32, void** pFile, const char**) { return *pFile = &g_file, rts::kOsOk; },
    [](void*, const char**) { return rts::kOsOk; },
    [](void*, void*, RTS_SIZE, RTS_SIZE* pRead, const char**) { return *pRead = 0, rts::kOsOk; },
    [](void*, const void*, RTS_SIZE size, RTS_SIZE* pWritten, const char**) {
        return *pWritten = size, rts::kOsOk;
    },
    [](void*, RTS_I64, sysfile_os::From, RTS_UI64* pPosition, const char**) {
        return *pPosition = 0, rts::kOsOk;
    },
    [](void*, RTS_UI64* pSize, const char**) { return *pSize = 0, rts::kOsOk; },
    [](void*, RTS_UI32 (*)[3], const char**) { return rts::kOsOk; },
    [](void*, const char**) { return rts::kOsOk; },
    [](void*, const char**) { return rts::kOsOk; },
    [](const char*, const char**) { return rts::kOsOk; },
    [](const char*, const char*, const char**) { return rts::kOsOk; },
    [](const char*, const char*, const char**) { return rts::kOsOk; },
    [](const char*, char*, RTS_SIZE, const char**) { return rts::kOsOk; },
    [](const char*, char*, RTS_SIZE) { return false; },
    [](rts::OsError e) { return e == 0 ? RES_OK : RES_FAILED; },
};

// Takes a piece of up to 15 bytes (its length is the first byte) off the input, zero-terminated.
std::string take(const uint8_t*& data, const uint8_t* end) {
    if (data == end) return {};
    const size_t wanted = *data++ % 16;
    const size_t n = std::min<size_t>(wanted, static_cast<size_t>(end - data));
    std::string piece(reinterpret_cast<const char*>(data), n);
    data += n;
    return piece.c_str();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    check(CMInit2(nullptr, StaticComponentList, 1) == RES_OK);
    sysfile_os::set_calls(&kNoFiles);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t* end = data + size;
    const size_t length = std::min<size_t>((data[0] << 8 | data[1]), size - 2);
    data += 2;
    IniResetLineSeparator();
    RTS_HANDLE h = IniOpen2("fuzz.ini", reinterpret_cast<const char*>(data), length, nullptr);
    check(h != nullptr);
    auto* db = static_cast<IniDatabase*>(h);
    data += length;
    while (data < end) {
        const uint8_t op = *data++;
        const std::string section = take(data, end), key = take(data, end), value = take(data, end);
        const std::string before(db->text, db->length);
        char buffer[16] = {};
        RTS_I32 room = 1 + op % 15;
        char* inside = nullptr;
        switch (op % 8) {
            case 0:
                if (IniReadValue(h, section.c_str(), key.c_str(), buffer, &room) == RES_OK) check(room < 16);
                break;
            case 1:
                if (IniReadValue2(h, section.c_str(), key.c_str(), &inside) == RES_OK)
                    check(inside >= db->text && inside <= db->text + db->length);
                break;
            case 2:
                if (IniWriteValue(h, section.c_str(), key.c_str(), value.c_str(), 0) == RES_NOTSUPPORTED)
                    check(before == std::string(db->text, db->length));
                break;
            case 3:
                IniWriteValue(h, section.c_str(), nullptr, nullptr, 0);
                break;
            case 4:
                IniRemoveKey(h, op * value.size() % (db->length + 2), key.c_str());
                break;
            case 5:
                IniRemoveAllKeys(h, op * value.size() % (db->length + 2));
                break;
            case 6:
                IniSetFilter(h, value.c_str());
                break;
            default:
                IniCheckFilter(h, section.c_str());
                break;
        }
        check(db->text[db->length] == '\0' && db->text[db->length + 1] == '\0');
    }
    IniDelete(h);
    return 0;
}
