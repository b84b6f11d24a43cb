// Fuzz target for the settings and the path mapping: the first two bytes give the length of a
// configuration text (any bytes), which becomes the master configuration file; the file
// component reads its path configuration from it (placeholders that name each other included);
// the rest is a list of typed reads and writes, removals and names to map, inside one update
// bracket so that the file is written once at the end. A string read must stay inside its buffer
// and terminate it, a mapped path must be terminated inside its buffer, and nothing may hang.
// Texts that reference further files are passed over: their names could be any file.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "cm.h"
#include "cmpsettings.h"
#include "cmutils.h"
#include "fuzz/fuzz_input.h"
#include "sysfile.h"

extern "C" RTS_RESULT CmpSettings__Entry(ComponentInitRecord* pInit);
extern "C" RTS_RESULT SysFile__Entry(ComponentInitRecord* pInit);

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

ComponentInitRecord g_settings, g_files;

// A string read of size characters (0: refused) must stay inside them and terminate its text.
template <typename Char, typename Read> void read_within(RTS_I32 size, Read read) {
    Char buffer[17];
    std::fill(std::begin(buffer), std::end(buffer), Char{'X'});
    RTS_I32 length = size;
    const RTS_RESULT r = read(buffer, &length);
    if (size == 0) return check(r == RES_PARAMETER);
    check(length >= 0 && length < size && buffer[length] == 0 && buffer[16] == Char{'X'});
}

void map(const std::string& name, bool application) {
    char buffer[64];
    const RTS_RESULT r = application ? SysFileGetIecPath2(name.c_str(), 2, buffer, sizeof buffer)
                                     : SysFileGetFullPath(name.c_str(), buffer, sizeof buffer);
    if (r == RES_OK || r == RES_BUFFERSIZE || r == RES_NOT_ALLOWED)
        check(std::memchr(buffer, 0, sizeof buffer));
}

void step(uint8_t op, const std::string& section, const std::string& key, const std::string& value) {
    const char* s = section.c_str();
    const char* k = key.c_str();
    RTS_I32 number = 0;
    switch (op % 10) {
        case 0:
            SettgGetIntValue(s, k, &number, 7, 0);
            break;
        case 1:
            read_within<char>(static_cast<RTS_I32>(value.size()), [s, k](char* buffer, RTS_I32* pLength) {
                return SettgGetStringValue(s, k, buffer, pLength, "default", 0);
            });
            break;
        case 2:
            SettgSetStringValue(s, k, value.c_str(), static_cast<RTS_I32>(op / 10));
            break;
        case 3:
            SettgSetIntValue(s, k, static_cast<RTS_I32>(std::strtol(value.c_str(), nullptr, 10)), op / 10);
            break;
        case 4:
            SettgRemoveKey(s, k);
            break;
        case 5:
            SettgClearComponent(s);
            break;
        case 6:
            read_within<RTS_WCHAR>(static_cast<RTS_I32>(value.size()),
                                   [s, k](RTS_WCHAR* buffer, RTS_I32* pLength) {
                                       return SettgGetWStringValue(s, k, buffer, pLength, u"d", 0);
                                   });
            break;
        case 7: {
            std::u16string wide(value.begin(), value.end());
            if (!wide.empty()) wide[0] = static_cast<char16_t>(wide[0] | (op << 8));
            SettgSetWStringValue(s, k, wide.c_str(), 0);
            break;
        }
        default:
            map(section + "/" + key + value, op % 10 == 9);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    check(CMInit2(nullptr, StaticComponentList, 1) == RES_OK);
    fuzzinput::write_without_flush();
    check(CmpSettings__Entry(&g_settings) == RES_OK && SysFile__Entry(&g_files) == RES_OK);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t* end = data + size;
    const size_t length = std::min<size_t>((data[0] << 8 | data[1]), size - 2);
    const std::string text(reinterpret_cast<const char*>(data + 2), length);
    if (CMUtlStrIStr(text.c_str(), "FileReference") != nullptr) return 0;
    data += 2 + length;
    static const std::string name =
        (std::filesystem::temp_directory_path() / "gc_fuzz_settings.cfg").string();
    std::ofstream(name, std::ios::binary) << text;
    if (SettgSetDatabaseName(name.c_str()) == RES_OK) {
        g_files.hookFunction(CH_INIT, 0, 0);
        SettgBeginUpdate();
        while (data < end) {
            const uint8_t op = *data++;
            const std::string section = fuzzinput::take(data, end), key = fuzzinput::take(data, end),
                              value = fuzzinput::take(data, end);
            step(op, section, key, value);
        }
        SettgEndUpdate();
    }
    g_settings.hookFunction(CH_EXIT_SYSTEM, 0, 0);
    return 0;
}
