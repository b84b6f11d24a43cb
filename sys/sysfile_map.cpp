/* The file component's path mapping: it turns the names callers give (bare names, relative
 * paths, paths that begin with a placeholder such as "$PlcLogic$", absolute paths) into the
 * paths the platform opens, from the configuration of section "SysFile" read at CH_INIT.
 *
 * It owns three lists in configuration order: the system list ("FilePath"), the application list
 * ("IecFilePath") and the placeholders (configured ones, then the built-in ones). A bare name is
 * sent to the directory of the entry that names it or its extension, else to the list's default
 * directory (its first nameless entry); a placeholder is replaced by its directory again and
 * again, a bounded number of times, so placeholders that refer to each other end. With a force
 * flag set, names that would leave the configured directories are refused. It also owns the
 * protected configuration files, the blacklist, the online access tests and the enumeration of
 * the configured directories. One lock guards the lists; they change only at CH_INIT, CH_EXIT
 * and when a placeholder is registered. */
#include "sys/sysfile_map.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "cm.h"
#include "cm/rts_common.h"
#include "cmplog.h"
#include "cmpsettings.h"
#include "cmutils.h"
#include "sysfile.h"
#include "sysfilepath.h"

namespace {

constexpr RTS_SIZE kPathSize = 512;
constexpr RTS_SIZE kNameSize = 100;
constexpr int kMaxResolutions = 16; /* deeper chains of placeholders are taken as unknown */
constexpr const char* kSection = "SysFile";
constexpr const char* kPrefix = "$PlcLogic$";
constexpr const char* kOwnFile = "KELVAROControl.cfg";

enum Attribute : RTS_UI8 { kView = 1, kVolatile = 2, kCreateOnWrite = 4, kTemporary = 8, kVParent = 16 };

struct Entry {
    std::string path; /* "/" separators, ends in "/" unless empty */
    std::string name; /* file name, extension patterns, or the placeholder's name */
    std::string parent;
    RTS_UI8 attributes = 0;
};

struct Configuration {
    bool read = false;
    std::vector<Entry> system, application, placeholders;
    std::vector<std::string> protectedFiles, blacklist;
    std::string prefix;
    std::string applicationPath; /* also the path of "$IecFilePath$" */
    RTS_I32 forceIec = 1, forceAll = 0, forceOnline = 1, denyConfig = 1;
    bool deniedLogged = false;
};

std::recursive_mutex g_lock;
Configuration g;

using Guard = std::lock_guard<std::recursive_mutex>;

void warn(RTS_UI32 classId, const char* format, const char* a, const char* b = "") {
    LogAdd(nullptr, CMPID_SysFile, classId, RES_OK, 0, format, a, b);
}

std::string slashed(const char* text) {
    std::string s(text);
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

bool blank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool absolute(const std::string& s) {
    const size_t at = s.find_first_not_of(" \t\n\v\f\r");
    return (at != std::string::npos && s[at] == '/') || s.find(':') != std::string::npos;
}

bool relative_with_directory(const std::string& s) {
    return s.rfind("./", 0) == 0 ||
           (s.find('/') != std::string::npos && s.find(':') == std::string::npos && s[0] != '/');
}

/* The first path component of at least 3 characters enclosed in "$": its start, or npos. */
size_t placeholder_at(const std::string& s, size_t* length) {
    for (size_t start = 0; start < s.size();) {
        size_t end = s.find('/', start);
        if (end == std::string::npos) end = s.size();
        if (end - start >= 3 && s[start] == '$' && s[end - 1] == '$') {
            *length = end - start;
            return start;
        }
        start = end + 1;
    }
    return std::string::npos;
}

bool begins_with(const std::string& s, const std::string& head) {
    return s.compare(0, head.size(), head) == 0;
}

std::string file_name(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string extension(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

/* Whether the patterns ("*.a, *.b") list the extension: after a "*", up to an end, blank or ",". */
bool lists_extension(const std::string& patterns, const std::string& ext) {
    if (ext.empty()) return false;
    for (size_t star = patterns.find('*'); star != std::string::npos; star = patterns.find('*', star + 1)) {
        const size_t end = star + 1 + ext.size();
        if (patterns.compare(star + 1, ext.size(), ext) == 0 &&
            (end == patterns.size() || patterns[end] == ' ' || patterns[end] == '\t' || patterns[end] == ','))
            return true;
    }
    return false;
}

/* ---- reading the configuration ---------------------------------------------------------------- */

/* "path" or "path, name": separators turned to "/", the path ending in "/". */
Entry parse_entry(const char* text) {
    const std::string s = slashed(text);
    Entry e;
    const size_t comma = s.find(',');
    e.path = s.substr(0, comma);
    if (comma == std::string::npos) {
        if (!e.path.empty() && e.path.back() != '/') e.path += '/';
        return e;
    }
    size_t at = comma + 1;
    while (at < s.size() && blank(s[at])) ++at;
    e.name = s.substr(at, kNameSize - 1);
    if (comma != 0 && s[comma - 1] != '/') e.path += '/';
    return e;
}

/* base, base.1, base.2, ...; with dottedZero the first is base.0. */
std::string key_of(const char* base, int n, const char* suffix = "", bool dottedZero = false) {
    char key[128];
    if (n == 0 && !dottedZero)
        CMUtlsnprintf(key, sizeof key, "%s%s", base, suffix);
    else
        CMUtlsnprintf(key, sizeof key, "%s.%d%s", base, n, suffix);
    return key;
}

bool read_text(const char* section, const std::string& key, char (&text)[kPathSize]) {
    RTS_I32 length = sizeof text;
    return SettgGetStringValue(section, key.c_str(), text, &length, nullptr, 0) == RES_OK;
}

RTS_I32 read_int(const std::string& key, RTS_I32 fallback) {
    RTS_I32 value = fallback;
    SettgGetIntValue(kSection, key.c_str(), &value, fallback, 0);
    return value;
}

/* Calls each(n, text) for the keys of base: a missing index 0 is passed over, the first missing
 * index after it ends the list. */
template <typename Each>
void for_each_key(const char* section, const char* base, Each each, bool dottedZero = false) {
    for (int n = 0;; ++n) {
        char text[kPathSize];
        if (!read_text(section, key_of(base, n, "", dottedZero), text)) {
            if (n == 0) continue;
            return;
        }
        each(n, text);
    }
}

/* The system or application list; the nameless entries after the first are reported. */
std::vector<Entry> read_list(const char* base, const char* message, std::string* lastNameless) {
    std::vector<Entry> list;
    bool nameless = false;
    for_each_key(kSection, base, [&](int, const char* text) {
        list.push_back(parse_entry(text));
        if (!list.back().name.empty()) return;
        if (nameless) warn(LOG_WARNING, message, text);
        nameless = true;
        if (lastNameless != nullptr) *lastNameless = list.back().path;
    });
    return list;
}

bool has_nameless(const std::vector<Entry>& list) {
    for (const Entry& e : list)
        if (e.name.empty()) return true;
    return false;
}

const Entry* placeholder(const std::string& name) {
    for (const Entry& e : g.placeholders)
        if (e.name == name) return &e;
    return nullptr;
}

bool belongs_under_prefix(const std::string& name) {
    for (const char* child : {"$visu$", "$trend$", "$alarms$", "$ac_persistence$", "$_cnc$"})
        if (name == child) return true;
    return false;
}

void read_placeholders(RTS_I32 allView) {
    for_each_key(kSection, "PlaceholderFilePath", [&](int n, const char* text) {
        Entry e = parse_entry(text);
        size_t length = 0;
        if (e.name.empty())
            warn(LOG_WARNING, "Misconfiguration: Nameless PlaceholderFilePath: %s", text);
        else if (placeholder_at(e.name, &length) == std::string::npos)
            warn(LOG_WARNING, "Misconfiguration: PlaceholderFilePath name should be enclosed in $: %s, %s",
                 e.path.c_str(), e.name.c_str());
        const std::pair<const char*, RTS_UI8> flags[] = {{".View", kView},
                                                         {".Volatile", kVolatile},
                                                         {".CreateOnWrite", kCreateOnWrite},
                                                         {".Temporary", kTemporary}};
        for (const auto& [suffix, bit] : flags)
            if (read_int(key_of("PlaceholderFilePath", n, suffix), bit == kView ? allView : 0) != 0)
                e.attributes |= bit;
        char parent[kPathSize];
        if (read_text(kSection, key_of("PlaceholderFilePath", n, ".VParent"), parent) && parent[0] != '\0' &&
            std::strlen(parent) + e.name.size() + 2 <= kNameSize) {
            e.parent = parent;
            e.attributes |= kVParent;
        }
        if (!g.prefix.empty() && e.parent.empty() && belongs_under_prefix(e.name)) {
            e.parent = kPrefix;
            e.attributes |= kVParent;
        }
        g.placeholders.push_back(e);
    });
}

void add_built_in(const char* name, std::string path, RTS_UI8 attributes, bool underPrefix) {
    if (placeholder(name) != nullptr) return;
    Entry e{std::move(path), name, "", attributes};
    if (underPrefix && !g.prefix.empty()) {
        e.parent = kPrefix;
        e.attributes |= kVParent;
    }
    g.placeholders.push_back(e);
}

void add_built_ins(RTS_I32 allView, RTS_I32 iecView) {
    const RTS_UI8 view = allView != 0 ? kView : 0;
    const bool prefixed = !g.prefix.empty();
    const std::string p = prefixed ? g.prefix + "/" : "";
    add_built_in("$PlcLogic$", "PlcLogic/", view, false);
    add_built_in("$visu$", p + "visu/", view, true);
    for (const char* sub : {"trend", "alarms", "ac_persistence"})
        add_built_in((std::string("$") + sub + "$").c_str(), prefixed ? p + sub + "/" : "", view, true);
    add_built_in("$TBF$", "TBF/", view | kCreateOnWrite, false);
    add_built_in("$_cnc$", p + "_cnc/", view, true);
    add_built_in("$logfiles$", "", view, false);
    add_built_in("$projectarchive$", std::string(kPrefix) + "/", view, false);
    g.placeholders.push_back(
        Entry{g.applicationPath, "$IecFilePath$", "", static_cast<RTS_UI8>(iecView != 0 ? kView : 0)});
}

/* ---- mapping ------------------------------------------------------------------------------- */

const std::vector<Entry>& entries(sysfile_map::List list) {
    return list == sysfile_map::List::system ? g.system : g.application;
}

const Entry* default_entry(sysfile_map::List list) {
    for (const Entry& e : entries(list))
        if (e.name.empty()) return &e;
    return nullptr;
}

std::string join_default(sysfile_map::List list, std::string name) {
    const Entry* d = default_entry(list);
    if (d == nullptr || d->path.empty()) return name;
    if (list == sysfile_map::List::application && CMUtlStrICmp(name.c_str(), "Q7.dat") == 0) return name;
    if (relative_with_directory(name) && begins_with(name, d->path)) return name;
    if (begins_with(name, "./")) name.erase(0, 2);
    while (!name.empty() && name[0] == '/') name.erase(0, 1);
    return d->path + name;
}

/* Whether a path lies under an entry's path: the directory itself (without its "/") counts. */
bool under(const std::string& path, const std::string& dir) {
    if (dir.empty()) return false;
    return begins_with(path, dir) || path == dir.substr(0, dir.size() - 1);
}

bool inside_list_entry(const std::string& path, const Entry& e) {
    if (!under(path, e.path)) return false;
    if (e.name.empty()) return true;
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = file_name(path);
    return dir == e.path && (name == e.name || lists_extension(e.name, extension(name)));
}

/* A placeholder's directory that ends in ":/" (a drive) is compared without its "/"; for a change
 * the directory itself counts only when it is temporary. */
bool inside_placeholder(const std::string& path, const Entry& e, bool modify) {
    std::string dir = e.path;
    if (dir.size() >= 2 && dir[dir.size() - 2] == ':') dir.pop_back();
    if (!under(path, dir)) return false;
    const bool itself = path == dir || path + "/" == dir;
    return !modify || !itself || (e.attributes & kTemporary) != 0;
}

bool inside(const std::string& path, bool modify) {
    if (!modify)
        for (const auto* list : {&g.system, &g.application})
            for (const Entry& e : *list)
                if (inside_list_entry(path, e)) return true;
    for (const Entry& e : g.placeholders)
        if (inside_placeholder(path, e, modify)) return true;
    return false;
}

bool visu_shortcut(const std::string& name, std::string* rest) {
    for (const char* head : {"visu/", "./visu/"}) {
        const size_t n = std::strlen(head);
        if (CMUtlStrNICmp(name.c_str(), head, n) == 0 && name.find('/', n) == std::string::npos) {
            *rest = name.substr(n);
            return true;
        }
    }
    return false;
}

/* Replaces placeholders by their directories until none is left. */
std::string resolve(sysfile_map::List list, std::string name) {
    std::string rest;
    bool visu = visu_shortcut(name, &rest);
    for (int depth = 0;; ++depth) {
        size_t length = 0;
        const size_t at = visu ? 0 : placeholder_at(name, &length);
        if (at == std::string::npos) return absolute(name) ? name : join_default(list, name);
        if (list == sysfile_map::List::application) return name;
        const std::string component = visu ? "$visu$" : name.substr(at, length);
        const Entry* e = depth < kMaxResolutions ? placeholder(component) : nullptr;
        if (!visu) {
            const size_t after = at + length;
            rest = after < name.size() ? name.substr(after + 1) : std::string();
        }
        const std::string head = visu ? std::string() : name.substr(0, at);
        if (e != nullptr)
            name = head + e->path + rest;
        else
            name = head + component.substr(1, component.size() - 2) + (rest.empty() ? "" : "/" + rest);
        visu = false;
    }
}

/* A bare name: the entry that names it or its extension, else the default directory. */
std::string map_bare(sysfile_map::List list, const std::string& name) {
    if (extension(name).empty()) return join_default(list, name);
    for (const Entry& e : entries(list)) {
        if (e.name.empty()) continue;
        if (e.name == name ||
            (e.name.find('*') != std::string::npos && lists_extension(e.name, extension(name))))
            return relative_with_directory(e.path) ? join_default(list, e.path + name) : e.path + name;
    }
    return join_default(list, name);
}

bool refused(sysfile_map::List list, const std::string& name) {
    const bool iec = list == sysfile_map::List::application && g.forceIec != 0;
    if (g.forceAll == 0 && !iec) return false;
    const bool outside = absolute(name) && !inside(name, false);
    if (!outside && name.find('%') == std::string::npos && name.find("..") == std::string::npos) return false;
    if (iec && !g.deniedLogged) {
        g.deniedLogged = true;
        warn(LOG_WARNING, "Access denied to '%s' due to ForceIecFilePath", name.c_str());
        warn(LOG_INFO, "To grant access, this path may be configured as a PlaceholderFilePath", "");
    }
    return true;
}

/* The master configuration file's name, asked before the lists' lock is taken: the settings
 * hold their own lock while they open files, which maps names. */
std::string master_file() {
    char master[kPathSize];
    return SettgGetDatabaseName(master, sizeof master) == RES_OK ? file_name(slashed(master)) : std::string();
}

/* 1: the name of a protected configuration file, 2: its temporary name, 0: neither. */
int protected_kind(const std::string& path, const std::string& master) {
    const std::string name = file_name(slashed(path.c_str()));
    std::vector<std::string> names{kOwnFile};
    if (!master.empty()) names.push_back(master);
    for (const std::string& file : g.protectedFiles) names.push_back(file_name(file));
    for (const std::string& candidate : names) {
        if (CMUtlStrICmp(name.c_str(), candidate.c_str()) == 0) return 1;
        if (!name.empty() && name.back() == '_' && name.size() == candidate.size() &&
            CMUtlStrNICmp(name.c_str(), candidate.c_str(), name.size() - 1) == 0)
            return 2;
    }
    return 0;
}

/* A protected file keeps its name, unless a relative name with a directory stands for a
 * referenced file configured with an absolute path. */
std::string map_protected(const std::string& name, int kind) {
    if (!relative_with_directory(name)) return name;
    for (const std::string& file : g.protectedFiles) {
        const std::string configured = file_name(file);
        if (!absolute(file) ||
            CMUtlStrNICmp(file_name(name).c_str(), configured.c_str(), configured.size() - 1) != 0)
            continue;
        return kind == 2 ? file.substr(0, file.size() - 1) + "_" : file;
    }
    return name;
}

RTS_RESULT give(const std::string& path, char* buffer, RTS_SIZE size) {
    return CMUtlSafeStrCpy(buffer, size, path.c_str());
}

std::string mapped_name(sysfile_map::List list, const std::string& name, const std::string& master,
                        RTS_RESULT* pResult) {
    *pResult = RES_OK;
    if (const int kind = protected_kind(name, master)) return map_protected(name, kind);
    if (refused(list, name)) {
        *pResult = RES_NOT_ALLOWED;
        return {};
    }
    const bool forced = g.forceAll != 0 || (list == sysfile_map::List::application && g.forceIec != 0);
    if (!forced && name.find('%') != std::string::npos) return name;
    if (name.empty()) {
        const Entry* d = default_entry(list);
        return d != nullptr ? d->path : std::string();
    }
    size_t length = 0;
    std::string rest;
    if (absolute(name) || relative_with_directory(name) ||
        placeholder_at(name, &length) != std::string::npos || visu_shortcut(name, &rest))
        return resolve(list, name);
    return map_bare(list, name);
}

} // namespace

namespace sysfile_map {

/* Built while only the start-up thread runs, without the lists' lock: the settings it reads take
 * their own. */
RTS_RESULT read_configuration() {
    release();
    g.system = read_list("FilePath", "Misconfiguration: Nameless FilePath more than once: %s", nullptr);
    g.application = read_list("IecFilePath", "Misconfiguration: Nameless IecFilePath more than once: %s",
                              &g.applicationPath);
    if (read_int("PlcLogicPrefix", -1) > 0) g.prefix = kPrefix;
    if (!has_nameless(g.application)) {
        g.application.push_back(Entry{g.prefix.empty() ? "" : g.prefix + "/", "", "", 0});
        g.applicationPath = g.application.back().path;
    }
    const RTS_I32 allView = read_int("PlaceholderFilePath.All.View", 0);
    read_placeholders(allView);
    add_built_ins(allView, read_int("IecFilePath.View", allView));
    for_each_key(
        "CmpSettings", "FileReference",
        [](int, const char* text) {
            const std::string s = slashed(text);
            g.protectedFiles.push_back(s.substr(0, s.find(',')));
        },
        true);
    g.forceIec = read_int("ForceIecFilePath", 1);
    g.forceAll = read_int("ForceFilePath", 0);
    g.forceOnline = read_int("ForceOnlineFilePath", 1);
    g.denyConfig = read_int("DenyOnlineAccessCfgFile", 1);
    g.read = true;
    return RES_OK;
}

void release() {
    Guard guard(g_lock);
    g = Configuration{};
}

RTS_RESULT map(const char* name, List list, char* buffer, RTS_SIZE size) {
    if (name == nullptr || buffer == nullptr || size == 0) return RES_PARAMETER;
    const std::string master = master_file();
    Guard guard(g_lock);
    if (!g.read) return CMUtlSafeStrCpy(buffer, size, name);
    std::string s = slashed(name);
    if (s.size() >= kPathSize) s.resize(kPathSize - 1);
    RTS_RESULT result = RES_OK;
    const std::string path = mapped_name(list, s, master, &result);
    if (result != RES_OK) {
        buffer[0] = '\0';
        return result;
    }
    return give(path, buffer, size);
}

bool is_protected(const char* path) {
    if (path == nullptr) return false;
    const std::string master = master_file();
    Guard guard(g_lock);
    return protected_kind(path, master) != 0;
}

} // namespace sysfile_map

/* ---- placeholders, the application path and the prefix ------------------------------------- */

extern "C" RTS_RESULT SysFileRegisterPlaceholder(const char* name, const char* path, RTS_UI8 attributes) {
    if (name == nullptr || path == nullptr) return RES_PARAMETER;
    Guard guard(g_lock);
    if (placeholder(name) != nullptr) return RES_DUPLICATE;
    Entry e = parse_entry(path);
    e.name = std::string(name).substr(0, kNameSize - 1);
    e.attributes = attributes & 0x0F;
    g.placeholders.push_back(e);
    return RES_OK;
}

extern "C" RTS_RESULT SysFileSetIecPath(const char* path) {
    if (path == nullptr) return RES_PARAMETER;
    Guard guard(g_lock);
    if (!has_nameless(g.application)) return RES_NOTINITIALIZED;
    if (path[0] == '\0') return RES_OK;
    char mapped[kPathSize];
    RTS_RESULT result = RES_OK;
    std::string s = mapped_name(sysfile_map::List::application, slashed(path), "", &result);
    if (result == RES_OK) s = mapped_name(sysfile_map::List::system, s, "", &result);
    if (result != RES_OK || give(s, mapped, sizeof mapped) != RES_OK)
        return result != RES_OK ? result : RES_BUFFERSIZE;
    s = mapped;
    if (s.empty() || s.back() != '/') s += '/';
    g.applicationPath = s;
    for (Entry& e : g.application)
        if (e.name.empty()) e.path = s;
    for (Entry& e : g.placeholders)
        if (e.name == "$IecFilePath$") e.path = s;
    return RES_OK;
}

extern "C" const char* SysFileGetPlcLogicPrefix(void) {
    Guard guard(g_lock);
    return g.prefix.empty() ? "" : kPrefix;
}

extern "C" RTS_RESULT SysFilePlcLogicPrefix(char* buffer, RTS_SIZE size, const char* subDirectory,
                                            const char* fileName, const char* suffix) {
    if (buffer == nullptr || size == 0 || fileName == nullptr) return RES_PARAMETER;
    std::string s;
    if (SysFileGetPlcLogicPrefix()[0] != '\0' && std::strchr(fileName, '/') == nullptr) {
        s = std::string(kPrefix) + "/";
        if (subDirectory != nullptr && subDirectory[0] != '\0') s += std::string(subDirectory) + "/";
    }
    s += fileName;
    if (suffix != nullptr) s += suffix;
    return give(s, buffer, size);
}

/* ---- protected files, the blacklist and online clients ------------------------------------- */

bool sysfile_map::has_application_list() {
    Guard guard(g_lock);
    return !g.application.empty();
}

extern "C" RTS_RESULT SysFileIsBlacklisted(const char* name) {
    if (name == nullptr || name[0] == '\0') return RES_PARAMETER;
    const std::string master = master_file();
    Guard guard(g_lock);
    if (!g.read) return RES_NOTINITIALIZED;
    if (protected_kind(name, master) != 0) return RES_OK;
    for (const std::string& entry : g.blacklist)
        if (CMUtlStrIStr(name, entry.c_str()) != nullptr) return RES_OK;
    return RES_FAILED;
}

extern "C" RTS_RESULT SysFileAddToBlacklist(const char* name) {
    if (name == nullptr || name[0] == '\0') return RES_PARAMETER;
    if (std::strlen(name) >= kPathSize) return RES_NO_RESOURCES;
    Guard guard(g_lock);
    if (!g.read) return RES_NOTINITIALIZED;
    g.blacklist.emplace_back(name);
    return RES_OK;
}

extern "C" RTS_RESULT SysFileIsOnlineAccessDenied(const char* name) {
    if (name == nullptr) return RES_PARAMETER;
    const std::string master = master_file();
    Guard guard(g_lock);
    const std::string s = slashed(name);
    if (g.forceAll != 0 || g.forceOnline != 0) {
        if ((absolute(s) && !inside(s, false)) || s.find('%') != std::string::npos ||
            s.find("..") != std::string::npos)
            return RES_OK;
    }
    return g.denyConfig != 0 && protected_kind(s, master) != 0 ? RES_OK : RES_FAILED;
}

extern "C" RTS_RESULT SysFileIsOnlineModifyAccessDenied(const char* name) {
    if (name == nullptr) return RES_PARAMETER;
    Guard guard(g_lock);
    const std::string s = slashed(name);
    if ((g.forceAll == 0 && g.forceOnline == 0) || !absolute(s)) return RES_FAILED;
    return inside(s, true) ? RES_FAILED : RES_OK;
}

extern "C" RTS_RESULT SysFileIsInvisible(const char* name) {
    if (name == nullptr) return RES_PARAMETER;
    const std::string last = file_name(slashed(name));
    return last.size() > 1 && last[0] == '.' && last != ".." ? RES_OK : RES_FAILED;
}

/* ---- the configured directories ------------------------------------------------------------- */

namespace {

constexpr RTS_UINTPTR kStart = 1; /* the handle before the first entry; entry i is i + 2 */

RTS_HANDLE next_listed(RTS_UINTPTR from, char* path, RTS_SIZE pathSize, char* name, RTS_SIZE nameSize,
                       RTS_UI32 options, RTS_RESULT* pResult) {
    Guard guard(g_lock);
    if (!g.read) return rts::report(pResult, RES_NOTINITIALIZED, RTS_INVALID_HANDLE);
    for (size_t i = from; i < g.placeholders.size(); ++i) {
        const Entry& e = g.placeholders[i];
        if ((e.attributes & kView) == 0 && (options & 1u) == 0) continue;
        const bool parent = (options & 2u) != 0 && !e.parent.empty();
        RTS_RESULT result = path != nullptr ? give(parent ? e.parent : e.path, path, pathSize) : RES_OK;
        if (result == RES_OK && name != nullptr) result = give(e.name, name, nameSize);
        if (pResult != nullptr) *pResult = result;
        return reinterpret_cast<RTS_HANDLE>(static_cast<RTS_UINTPTR>(i + 2));
    }
    return rts::report(pResult, RES_NOMOREENTRIES, RTS_INVALID_HANDLE);
}

} // namespace

extern "C" RTS_HANDLE SysFileGetFirstConfiguredPath(char* path, RTS_SIZE pathSize, char* name,
                                                    RTS_SIZE nameSize, RTS_RESULT* pResult) {
    if (path == nullptr && name == nullptr) {
        if (pResult != nullptr) *pResult = RES_OK;
        return reinterpret_cast<RTS_HANDLE>(kStart);
    }
    return next_listed(0, path, pathSize, name, nameSize, 0, pResult);
}

extern "C" RTS_HANDLE SysFileGetNextConfiguredPath2(RTS_HANDLE h, char* path, RTS_SIZE pathSize, char* name,
                                                    RTS_SIZE nameSize, RTS_UI32 options,
                                                    RTS_RESULT* pResult) {
    const auto at = reinterpret_cast<RTS_UINTPTR>(h);
    if (h == RTS_INVALID_HANDLE || at < kStart)
        return rts::report(pResult, RES_PARAMETER, RTS_INVALID_HANDLE);
    return next_listed(at == kStart ? 0 : at - 1, path, pathSize, name, nameSize, options, pResult);
}

extern "C" RTS_HANDLE SysFileGetNextConfiguredPath(RTS_HANDLE h, char* path, RTS_SIZE pathSize, char* name,
                                                   RTS_SIZE nameSize, RTS_RESULT* pResult) {
    return SysFileGetNextConfiguredPath2(h, path, pathSize, name, nameSize, 0, pResult);
}

namespace {

const CMExportEntry kExports[] = {
    CM_EXPORT(SysFileRegisterPlaceholder),
    CM_EXPORT(SysFileSetIecPath),
    CM_EXPORT(SysFileGetPlcLogicPrefix),
    CM_EXPORT(SysFilePlcLogicPrefix),
    CM_EXPORT(SysFileIsBlacklisted),
    CM_EXPORT(SysFileAddToBlacklist),
    CM_EXPORT(SysFileIsOnlineAccessDenied),
    CM_EXPORT(SysFileIsOnlineModifyAccessDenied),
    CM_EXPORT(SysFileIsInvisible),
    CM_EXPORT(SysFileGetFirstConfiguredPath),
    CM_EXPORT(SysFileGetNextConfiguredPath),
    CM_EXPORT(SysFileGetNextConfiguredPath2),
    {nullptr, nullptr, 0, 0},
};

} // namespace

RTS_RESULT sysfile_map::export_functions() {
    return CMRegisterAPI(kExports, 0, 0, CMPID_SysFile);
}
