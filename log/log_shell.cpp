/* The log filter commands a command shell offers when one is present: logsetfilter,
 * loggetfilter and logdelfilter write, read and delete the "<component>.Filter" and
 * "Logger.N.Filter" settings of CmpLog. Every argument is checked before the first setting
 * changes; a bad one answers "ERROR: ..." followed by the command's long help. */
#include <cstdio>
#include <cstring>

#include "cm.h"
#include "cm/optional_import.h"
#include "cmhash.h"
#include "cmpsettings.h"
#include "cmutils.h"
#include "log/cmplog_internal.h"
#include "optional_services.h"
#include "sysmem.h"

namespace cmplog {

namespace {

rts::ShellImports g_shell{};

constexpr RTS_UINTPTR kLogSettingsChanged = 1; // CH_SETTINGS_CHANGED for the log settings
constexpr RTS_SIZE kNameSize = 31;             // a target keeps 30 characters of its token
constexpr RTS_UI32 kLocalTargets = 2;          // lists of up to two names need no heap
constexpr RTS_SIZE kErrorLineSize = 80;        // "ERROR: %s" with its terminator
constexpr RTS_SIZE kErrorTextSize = 135;
constexpr const char* kFilterSuffix = ".Filter";

constexpr const char* kSetHelp =
    "logsetfilter [<CmpName>...] <FilterValue>:\n    Usage:\n        logsetfilter -> Shows the help "
    "documentation.\n        logsetfilter ? -> Shows the help documentation.\n        logsetfilter "
    "<FilterValue> -> Sets the filter of Logger.0 (the standard logger) to the specified hexadecimal "
    "value.\n        logsetfilter <CmpName> <FilterValue> -> Sets the filter of the specified component to "
    "the specified hexadecimal value.\n        logsetfilter <Logger.X> <FilterValue> -> Sets the filter of "
    "the specified logger to the specified hexadecimal value.\n        logsetfilter <CmpName1> <Logger.X> "
    "<CmpName3> <FilterValue> -> Sets the filter of the specified component(s) or logger(s) to the "
    "specified hexadecimal value.\n    Description:\n        Configures the log filter setting(s) for the "
    "specified component(s) and/or global logger(s) using hexadecimal filter values.\n";
constexpr const char* kGetHelp =
    "loggetfilter [<CmpName>...]:\n    Usage:\n        loggetfilter ? -> Shows the help documentation.\n     "
    "   loggetfilter -> Retrieves the filter of Logger.0 (the standard logger).\n        loggetfilter "
    "<CmpName> -> Retrieves the filter of the specified component.\n        loggetfilter <Logger.X> -> "
    "Retrieves the filter of the specified logger.\n        loggetfilter <CmpName1> <Logger.X> <CmpName3> "
    "-> Retrieves the filters of the specified component(s) or logger(s).\n    Description:\n        "
    "Retrieves the current log filter setting(s) for the specified component(s) and/or global logger(s) "
    "using hexadecimal filter values.\n";
constexpr const char* kDelHelp =
    "logdelfilter [<CmpName>...]:\n    Usage:\n        logdelfilter ? -> Shows the help documentation.\n     "
    "   logdelfilter -> Shows the help documentation.\n        logdelfilter <CmpName> -> Deletes the filter "
    "of the specified component.\n        logdelfilter <CmpName1> <CmpName2> <CmpName3> -> Deletes the "
    "filters of the specified components.\n    Description:\n        Deletes the log filter settings for "
    "the specified component(s). \n        It is not possible to delete the global log filter(s) (e.g "
    "Logger.0.Filter), use \"logsetfilter 0x00000000\" instead.\n";

// ---- output --------------------------------------------------------------------------------

void print(PlcShellRequest* request, const char* text) {
    g_shell.Append(text, request->output);
}

void printf_line(PlcShellRequest* request, const char* format, const char* name, RTS_UI32 value = 0) {
    char line[kNameSize + sizeof ".Filter : Key not found"];
    CMUtlsnprintf(line, sizeof line, format, name, value);
    print(request, line);
}

// The error line, then the command's long help; the answer of every parse error.
void print_error(PlcShellRequest* request, const char* help, const char* format, const char* token = "") {
    char text[kErrorTextSize];
    char line[kErrorLineSize];
    CMUtlsnprintf(text, sizeof text, format, token, token);
    CMUtlsnprintf(line, sizeof line, "ERROR: %s", text);
    print(request, line);
    print(request, "\r\n\n\n");
    print(request, help);
}

// ---- the argument tokens and the target list -----------------------------------------------

// A copy of the argument text split into tokens, and room for as many target names. Lists of
// up to two names stay local; longer ones share the heap block of the text.
class Arguments {
public:
    explicit Arguments(const char* text) {
        const RTS_SIZE length = std::strlen(text) + 1;
        char* probe = static_cast<char*>(SysMemAllocData(kOwner, length, nullptr));
        if (probe == nullptr) return;
        std::memcpy(probe, text, length);
        RTS_UI32 count = CMUTL_TOKENIZER_COUNT_ONLY;
        CMUtlArgumentTokenizer(probe, nullptr, &count, " ");
        SysMemFreeData(kOwner, probe);
        // the token pointers first, where the block's alignment holds, then the names, then the text
        const RTS_SIZE lists = count > kLocalTargets ? count * (sizeof(char*) + kNameSize) : 0;
        block_ = static_cast<char*>(SysMemAllocData(kOwner, lists + length, nullptr));
        if (block_ == nullptr) return;
        if (lists != 0) {
            tokens_ = reinterpret_cast<char**>(block_);
            names_ = reinterpret_cast<char(*)[kNameSize]>(block_ + count * sizeof(char*));
        }
        char* line = block_ + lists;
        std::memcpy(line, text, length);
        CMUtlArgumentTokenizer(line, tokens_, &count, " ");
        count_ = count;
    }
    ~Arguments() {
        if (block_ != nullptr) SysMemFreeData(kOwner, block_);
    }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;

    bool ok() const { return block_ != nullptr; }
    RTS_UI32 count() const { return count_; }
    const char* token(RTS_UI32 i) const { return tokens_[i]; }
    RTS_UI32 targets() const { return targets_; }
    const char* target(RTS_UI32 i) const { return names_[i]; }
    void add_target(const char* name) { CMUtlSafeStrCpy(names_[targets_++], kNameSize, name); }
    // Only a filter value was given: the standard logger is meant.
    void default_target() {
        if (targets_ == 0) {
            names_ = localNames_;
            add_target("Logger.0");
        }
    }

private:
    char* block_ = nullptr;
    char* localTokens_[kLocalTargets] = {};
    char localNames_[kLocalTargets][kNameSize] = {};
    char** tokens_ = localTokens_;
    char (*names_)[kNameSize] = localNames_;
    RTS_UI32 count_ = 0;
    RTS_UI32 targets_ = 0;
};

bool is_logger_name(const char* token) {
    constexpr RTS_SIZE prefix = sizeof "Logger." - 1;
    int number = 0;
    if (std::sscanf(token, "Logger.%d", &number) != 1) return false;
    const char* digits = token + prefix;
    return std::strspn(digits, "0123456789") == std::strlen(digits);
}

bool is_component(const char* token) {
    RTS_RESULT r = RES_FAILED;
    RTS_HANDLE component = CMGetComponentByName(token, &r);
    return r == RES_OK && component != RTS_INVALID_HANDLE;
}

void settings_changed() {
    CMCallHook(CH_SETTINGS_CHANGED, kLogSettingsChanged, nullptr, 0);
}

// ---- the commands ----------------------------------------------------------------------------

// Checks the tokens of logsetfilter; on success the value is in `value` and the names in the
// target list. Answers the error text (with its token in `bad`) or null.
const char* parse_set(Arguments& args, RTS_UI32& value, const char*& bad) {
    if (args.count() == 0) return "A filter value has to be specified";
    for (RTS_UI32 i = 0; i < args.count(); ++i) {
        const char* token = args.token(i);
        unsigned int parsed = 0;
        if (std::sscanf(token, "0x%X", &parsed) == 1) {
            if (i + 1 != args.count()) return "Filter value should be the last argument";
            if (std::strlen(token) != 10) return "Filter value should have the Format 0xFFFFFFFF";
            if (std::strspn(token + 2, "0123456789abcdefABCDEF") != 8)
                return "Filter value should be valid hex";
            value = parsed;
            args.default_target();
            return nullptr;
        }
        if (!is_component(token) && !is_logger_name(token)) return bad = token, "Component %s does not exist";
        args.add_target(token);
    }
    return "A filter value has to be specified";
}

void set_filter(PlcShellRequest* request, const char* target, const char* key, RTS_UI32 value) {
    SettgBeginUpdate();
    if (SettgSetIntValue(kOwner, key, static_cast<RTS_I32>(value), 16) == RES_OK) {
        settings_changed();
        LogAdd(nullptr, CMPID_CmpLog, LOG_INFO, RES_OK, 0,
               "Logfilter for %s was set to 0x%X with logsetfilter in PLC Shell", target, value);
        printf_line(request, "%s : 0x%08X", target, value);
    } else {
        printf_line(request, "%s : Key not found", key);
    }
    print(request, "\r\n");
    SettgEndUpdate();
}

void get_filter(PlcShellRequest* request, const char* key) {
    RTS_I32 value = 0;
    if (SettgGetIntValue(kOwner, key, &value, 0, 1) == RES_OK)
        printf_line(request, "%s : 0x%08X", key, static_cast<RTS_UI32>(value));
    else
        printf_line(request, "%s : Key not found", key);
    print(request, "\r\n");
}

void delete_filter(PlcShellRequest* request, const char* target, const char* key) {
    if (SettgRemoveKey(kOwner, key) == RES_OK) {
        settings_changed();
        LogAdd(nullptr, CMPID_CmpLog, LOG_INFO, RES_OK, 0,
               "Logfilter for %s was deleted with logdelfilter in PLC Shell", target);
        printf_line(request, "%s : deleted", target);
    } else {
        printf_line(request, "%s : Key not found", key);
    }
    print(request, "\r\n");
}

// Checks every token as a name the command accepts and lists it as a target; answers the error
// text for the first bad one (with the token in `bad`), else null.
const char* parse_names(Arguments& args, bool loggers, const char*& bad) {
    for (RTS_UI32 i = 0; i < args.count(); ++i) {
        bad = args.token(i);
        if (is_logger_name(bad) && !loggers)
            return "It is not possible to delete %s, use \"logsetfilter %s 0x00000000\" instead.";
        if (!is_component(bad) && !is_logger_name(bad)) return "Component %s does not exist";
        args.add_target(bad);
    }
    return nullptr;
}

enum class Command { Set, Get, Delete };

// Parses the arguments; on an error answers it with the help and returns false.
bool parse(PlcShellRequest* request, Command command, const char* help, Arguments& args, RTS_UI32& value) {
    const char* bad = "";
    const char* error = !args.ok()                ? "Not enough memory for the arguments"
                        : command == Command::Set ? parse_set(args, value, bad)
                        : command == Command::Delete && args.count() == 0
                            ? "A component has to be specified"
                            : parse_names(args, command == Command::Get, bad);
    if (error != nullptr) print_error(request, help, error, bad);
    if (command == Command::Get) args.default_target();
    return error == nullptr;
}

// What every command does: its own name only, the help on a "?", the arguments checked before
// any setting is touched, then each target in order.
RTS_RESULT run(PlcShellRequest* request, const char* name, Command command, const char* help) {
    if (std::strcmp(request->command, name) != 0) return RES_OK;
    if (std::strchr(request->arguments, '?') != nullptr) return print(request, help), RES_OK;
    Arguments args(request->arguments);
    RTS_UI32 value = 0;
    if (!parse(request, command, help, args, value)) return RES_OK;
    for (RTS_UI32 i = 0; i < args.targets(); ++i) {
        char key[kNameSize + sizeof ".Filter"];
        CMUtlsnprintf(key, sizeof key, "%s%s", args.target(i), kFilterSuffix);
        if (command == Command::Set) set_filter(request, args.target(i), key, value);
        if (command == Command::Get) get_filter(request, key);
        if (command == Command::Delete) delete_filter(request, args.target(i), key);
    }
    return RES_OK;
}

RTS_RESULT logsetfilter(PlcShellRequest* request) {
    return run(request, "logsetfilter", Command::Set, kSetHelp);
}

RTS_RESULT loggetfilter(PlcShellRequest* request) {
    return run(request, "loggetfilter", Command::Get, kGetHelp);
}

RTS_RESULT logdelfilter(PlcShellRequest* request) {
    return run(request, "logdelfilter", Command::Delete, kDelHelp);
}

struct LogShellCommand {
    char command[32];
    char help[128];
    PF_PLC_SHELL_HANDLER handler;
    RTS_UI32 reserved;
};

const LogShellCommand kCommands[] = {
    {"logsetfilter",
     "logsetfilter [<CmpName>...] <FilterValue>\n\tConfigures log filter settings using hexadecimal values.",
     logsetfilter, 0},
    {"loggetfilter",
     "loggetfilter [<CmpName>...]\n\tRetrieve the current log filter settings for specified components.",
     loggetfilter, 0},
    {"logdelfilter",
     "logdelfilter [<CmpName>...]\n\tDeletes the log filter settings for specified components.", logdelfilter,
     0},
    {"", "", nullptr, 0},
};

} // namespace

// Finds the shell at CH_INIT, registers the commands at CH_INIT3 and takes them back at CH_EXIT3.
void shell_hook(RTS_UI32 hook) {
    if (hook == CH_INIT) g_shell.import();
    if ((hook != CH_INIT3 && hook != CH_EXIT3) || !g_shell.present()) return;
    for (const LogShellCommand* c = kCommands; c->command[0] != '\0'; ++c) {
        const bool init = hook == CH_INIT3;
        const RTS_RESULT r = init ? g_shell.Register(c->command, c->help, c->handler, c->reserved)
                                  : g_shell.Unregister(c->handler);
        if (r != RES_OK)
            LogAdd(nullptr, CMPID_CmpLog, LOG_ERROR, r, 0,
                   init ? "PlcShellRegister failed" : "PlcShellUnregister failed");
    }
}

} // namespace cmplog
