// Fuzz target for the configuration-file database: the first two bytes give the length of a file
// text (any bytes: NULs, lone CRs, unbalanced brackets, long lines), the rest is a list of reads,
// writes, removals, section appends and filters on it; writes go to one file in the temporary
// directory, without the flush to the disk. After every step the text must end with its two zero
// bytes, a read must stay inside its buffer and a pointer into the text inside the text, and a
// refused value must leave the text as it was.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cm.h"
#include "cmpinifile.h"
#include "fuzz/fuzz_input.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    check(CMInit2(nullptr, StaticComponentList, 1) == RES_OK);
    fuzzinput::write_without_flush();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t* end = data + size;
    const size_t length = std::min<size_t>((data[0] << 8 | data[1]), size - 2);
    data += 2;
    IniResetLineSeparator();
    static const std::string name = (std::filesystem::temp_directory_path() / "gc_fuzz_inifile.ini").string();
    RTS_HANDLE h = IniOpen2(name.c_str(), reinterpret_cast<const char*>(data), length, nullptr);
    check(h != nullptr);
    auto* db = static_cast<IniDatabase*>(h);
    data += length;
    while (data < end) {
        const uint8_t op = *data++;
        const std::string section = fuzzinput::take(data, end), key = fuzzinput::take(data, end),
                          value = fuzzinput::take(data, end);
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
