/* The clock's two commands for a command shell, when one is present: "rtc-get" answers the
 * current UTC date and time, "rtc-set" sets the clock from a strictly checked timestamp of the
 * form YYYY-MM-DDThh:mm:ss[,sss], taken as UTC. */
#include <cstring>

#include "cm.h"
#include "cm/optional_import.h"
#include "cmutils.h"
#include "optional_services.h"
#include "systimertc.h"

namespace systimertc_shell {

namespace {

rts::ShellImports g_shell{};

constexpr const char* kInvalid = "Invalid timestamp given. See required format.\r\n";

void reply(PlcShellRequest* request, const char* format, RTS_RESULT result) {
    char line[64];
    CMUtlsnprintf(line, sizeof line, format, static_cast<long>(result));
    g_shell.Append(line, request->output);
}

void reply_date(PlcShellRequest* request, const char* lead, const RTS_SYSTIMEDATE& d) {
    char line[96];
    CMUtlsnprintf(line, sizeof line, "%s%04d-%02d-%02dT%02d:%02d:%02d,%03dZ\r\n", lead, d.wYear, d.wMonth,
                  d.wDay, d.wHour, d.wMinute, d.wSecond, d.wMilliseconds);
    g_shell.Append(line, request->output);
}

// The decimal field of `width` digits at `text`, within [low, high]; false when it is not.
bool field(const char* text, int width, int low, int high, RTS_UI16& out) {
    int value = 0;
    for (int i = 0; i < width; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    out = static_cast<RTS_UI16>(value);
    return value >= low && value <= high;
}

bool parse_timestamp(const char* t, RTS_SYSTIMEDATE& d) {
    d = RTS_SYSTIMEDATE{};
    const RTS_SIZE length = std::strlen(t);
    if (length != 19 && length != 23) return false;
    if (t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':') return false;
    if (length == 23 && (t[19] != ',' || !field(t + 20, 3, 0, 999, d.wMilliseconds))) return false;
    return field(t, 4, 1, 9999, d.wYear) && field(t + 5, 2, 1, 12, d.wMonth) &&
           field(t + 8, 2, 1, 31, d.wDay) && field(t + 11, 2, 0, 23, d.wHour) &&
           field(t + 14, 2, 0, 59, d.wMinute) && field(t + 17, 2, 0, 59, d.wSecond);
}

RTS_RESULT rtc_get(PlcShellRequest* request) {
    if (std::strcmp(request->command, "rtc-get") != 0) return RES_OK;
    RTS_UI64 ms = 0;
    RTS_SYSTIMEDATE date{};
    RTS_RESULT r = SysTimeRtcHighResGet(&ms);
    if (r != RES_OK) return reply(request, "SysTimeRtcHighResGet failed: result=%ld\r\n", r), RES_OK;
    r = SysTimeRtcConvertHighResToDate(&ms, &date);
    if (r != RES_OK)
        return reply(request, "SysTimeRtcConvertHighResToDate failed: result=%ld\r\n", r), RES_OK;
    reply_date(request, "Current UTC date and time: ", date);
    return RES_OK;
}

RTS_RESULT rtc_set(PlcShellRequest* request) {
    if (std::strcmp(request->command, "rtc-set") != 0) return RES_OK;
    RTS_SYSTIMEDATE date{};
    if (!parse_timestamp(request->arguments, date)) return g_shell.Append(kInvalid, request->output), RES_OK;
    RTS_UI64 ms = 0;
    RTS_RESULT r = SysTimeRtcConvertDateToHighRes(&date, &ms);
    if (r != RES_OK)
        return reply(request, "SysTimeRtcConvertDateToHighRes failed: result=%ld\r\n", r), RES_OK;
    r = SysTimeRtcHighResSet(&ms);
    if (r != RES_OK) return reply(request, "SysTimeRtcHighResSet failed: result=%ld\r\n", r), RES_OK;
    reply_date(request, "RTC successfully set to ", date);
    return RES_OK;
}

struct Command {
    const char* name;
    const char* help;
    PF_PLC_SHELL_HANDLER handler;
};

constexpr Command kCommands[] = {
    {"rtc-get", "rtc-get\r\n\tGet UTC via DateTime string.", rtc_get},
    {"rtc-set",
     "rtc-set\r\n\tSet UTC via DateTime string (see ISO 8601).\r\n\tRequired format: \"rtc-set "
     "YYYY-MM-DDThh:mm:ss[,sss]\"",
     rtc_set},
};

} // namespace

// Finds the shell at CH_INIT_SYSTEM, offers the commands from CH_INIT3 to CH_EXIT3.
void shell_hook(RTS_UI32 hook) {
    if (hook == CH_INIT_SYSTEM) g_shell.import();
    if (!g_shell.present()) return;
    for (const Command& c : kCommands) {
        if (hook == CH_INIT3) g_shell.Register(c.name, c.help, c.handler, 0);
        if (hook == CH_EXIT3) g_shell.Unregister(c.handler);
    }
}

} // namespace systimertc_shell
