// The command shell (component "DevShell"): commands registered with their short help and
// handler; a command line goes to every handler, and each appends its answer to the output
// context, which is the answer string being built.
#include <mutex>

#include "collaborators.h"
#include "collaborators_internal.h"

namespace collab {
namespace {

struct Command {
    std::string name, help;
    PF_PLC_SHELL_HANDLER handler;
};

std::recursive_mutex g_lock; // a handler may register or append while a line runs
std::vector<Command> g_commands;

const CMExportEntry kExports[] = {
    CM_EXPORT(PlcShellRegister),
    CM_EXPORT(PlcShellUnregister),
    CM_EXPORT(PlcShellAppend),
    {nullptr, nullptr, 0, 0},
};

} // namespace

RTS_RESULT DevShell__Entry(ComponentInitRecord* pInit) {
    return entry<kShellCmpId, kExports>(pInit);
}

std::vector<std::string> shell_commands() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    std::vector<std::string> names;
    for (const Command& c : g_commands) names.push_back(c.name);
    return names;
}

std::string shell_run(const std::string& line) {
    const std::size_t blank = line.find(' ');
    const std::string name = line.substr(0, blank);
    const std::string arguments = blank == std::string::npos ? "" : line.substr(blank + 1);
    std::string answer;
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    bool known = false;
    for (const Command& c : g_commands) {
        if (name == "help") answer += c.help + "\r\n";
        known = known || c.name == name;
    }
    if (name == "help") return answer;
    if (!known) return "Unknown command: " + name + "\r\n";
    const std::vector<Command> commands = g_commands; // a handler may unregister
    for (const Command& c : commands) {
        PlcShellRequest request{name.c_str(), arguments.c_str(), &answer};
        c.handler(&request);
    }
    return answer;
}

} // namespace collab

using collab::g_commands;
using collab::g_lock;

extern "C" RTS_RESULT PlcShellRegister(const char* command, const char* help, PF_PLC_SHELL_HANDLER handler,
                                       RTS_UI32) {
    if (command == nullptr || command[0] == '\0' || handler == nullptr) return RES_PARAMETER;
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    for (const collab::Command& c : g_commands)
        if (c.name == command) return RES_DUPLICATE;
    g_commands.push_back({command, help != nullptr ? help : "", handler});
    return RES_OK;
}

extern "C" RTS_RESULT PlcShellUnregister(PF_PLC_SHELL_HANDLER handler) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    for (auto it = g_commands.begin(); it != g_commands.end(); ++it) {
        if (it->handler == handler) {
            g_commands.erase(it);
            return RES_OK;
        }
    }
    return RES_NO_OBJECT;
}

extern "C" RTS_RESULT PlcShellAppend(const char* text, RTS_HANDLE output) {
    if (text == nullptr || output == nullptr) return RES_PARAMETER;
    *static_cast<std::string*>(output) += text;
    return RES_OK;
}
