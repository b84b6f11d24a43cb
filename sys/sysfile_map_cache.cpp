/* The cache of file checksums, kept in the settings section "SysFileMap": under a file's mapped
 * path its size and CRC in base 16 and a short name made of the CRC's digits and the start of
 * the file's extension ("0x1234, 0x1A2B3C4D, 1A2B3C4D.txt"). A checksum asked for the same size
 * is answered from it; writing opens, deletions and renames keep it true. The protected
 * configuration files never enter it, since writing it writes them. */
#include <cstdlib>
#include <cstring>
#include <string>

#include "cmpsettings.h"
#include "cmutils.h"
#include "sys/sysfile_map.h"

namespace {

constexpr const char* kSection = "SysFileMap";
constexpr RTS_SIZE kEntrySize = 100;
constexpr RTS_SIZE kExtensionCut = 4;

bool read_entry(const char* path, char (&entry)[kEntrySize]) {
    RTS_I32 length = sizeof entry;
    return SettgGetStringValue(kSection, path, entry, &length, nullptr, 0) == RES_OK;
}

} // namespace

namespace sysfile_map {

void forget_checksum(const char* path) {
    char entry[kEntrySize];
    if (!is_protected(path) && read_entry(path, entry)) SettgRemoveKey(kSection, path);
}

void move_checksum(const char* oldPath, const char* newPath) {
    char entry[kEntrySize];
    if (is_protected(oldPath) || is_protected(newPath) || !read_entry(oldPath, entry)) return;
    SettgRemoveKey(kSection, oldPath);
    SettgSetStringValue(kSection, newPath, entry, 0);
}

bool cached_checksum(const char* path, RTS_SIZE size, RTS_UI32* pCrc) {
    char entry[kEntrySize];
    if (!read_entry(path, entry)) return false;
    char* next = nullptr;
    const unsigned long long cachedSize = std::strtoull(entry, &next, 16);
    if (cachedSize != size || *next != ',') return false;
    *pCrc = static_cast<RTS_UI32>(std::strtoul(next + 1, nullptr, 16));
    return true;
}

void store_checksum(const char* path, RTS_SIZE size, RTS_UI32 crc) {
    if (is_protected(path)) return;
    char sizeText[24], crcText[24];
    CMUtlUltoa(static_cast<RTS_UI32>(size), sizeText, sizeof sizeText, 16, nullptr);
    CMUtlUltoa(crc, crcText, sizeof crcText, 16, nullptr);
    const char* dot = std::strrchr(path, '.');
    const std::string extension = dot != nullptr ? std::string(dot).substr(0, kExtensionCut) : std::string();
    char entry[kEntrySize];
    CMUtlsnprintf(entry, sizeof entry, "%s, %s, %s%s", sizeText, crcText, crcText + 2, extension.c_str());
    SettgSetStringValue(kSection, path, entry, 0);
}

} // namespace sysfile_map
