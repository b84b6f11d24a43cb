// The shell commands of the logger and the clock, run through our own command shell as a person
// at the developer shell would type them: answers, the settings they leave behind, the log
// lines, and the clock a timestamp sets (checked against the C library's calendar).
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "cmpsettings.h"
#include "collab_framework.h"
#include "sys/systimertc_os.h"

namespace {

class ShellCommands : public shelltest::CollabFramework {
protected:
    static RTS_I32 filter(const std::string& target) {
        RTS_I32 value = -1;
        return SettgGetIntValue("CmpLog", (target + ".Filter").c_str(), &value, -1, 0) == RES_OK ? value : -1;
    }
};

std::string help_of(const std::string& command) {
    return collab::shell_run(command + " ?");
}

TEST_F(ShellCommands, ExistFromInitToExitOnly) {
    EXPECT_EQ(collab::shell_commands(), (std::vector<std::string>{"logsetfilter", "loggetfilter",
                                                                  "logdelfilter", "rtc-get", "rtc-set"}));
    CMExit();
    EXPECT_TRUE(collab::shell_commands().empty());
    ASSERT_EQ(CMInit2(cfg_.c_str(), list_.data(), 1), RES_OK);
}

// Every parse error answers its line and the command's help, and changes no setting, not even
// for names before the bad token.
TEST_F(ShellCommands, ParseErrorsAnswerAndTouchNothing) {
    const std::string long_token(200, 'N');
    const struct {
        std::string line, error;
    } rows[] = {
        {"logsetfilter", "A filter value has to be specified"},
        {"logsetfilter SysFile", "A filter value has to be specified"},
        {"logsetfilter SysFile 0x1F", "Filter value should have the Format 0xFFFFFFFF"},
        {"logsetfilter SysFile 0x1234567G", "Filter value should be valid hex"},
        {"logsetfilter SysFile 0x0000001F SysFile", "Filter value should be the last argument"},
        {"logsetfilter SysFile Nothing 0x00000001", "Component Nothing does not exist"},
        {"logsetfilter Logger.x 0x00000001", "Component Logger.x does not exist"},
        {"logdelfilter", "A component has to be specified"},
        {"logdelfilter SysFile Logger.0",
         "It is not possible to delete Logger.0, use \"logsetfilter Logger.0 0x0000"},
        {"loggetfilter SysFile Nothing", "Component Nothing does not exist"},
        // the error line holds 79 characters at most
        {"logsetfilter " + long_token + " 0x00000001", "Component " + std::string(79 - 17, 'N')},
    };
    SettgSetIntValue("CmpLog", "SysFile.Filter", 7, 10);
    const RTS_I32 standard = filter("Logger.0");
    for (const auto& row : rows) {
        const std::string command = row.line.substr(0, 12);
        EXPECT_EQ(collab::shell_run(row.line), "ERROR: " + row.error + "\r\n\n\n" + help_of(command))
            << row.line;
        EXPECT_EQ(filter("SysFile"), 7) << row.line;
        EXPECT_EQ(filter("Logger.0"), standard) << row.line;
    }
    EXPECT_EQ(testlog::count_starting("Logfilter for"), 0);
}

TEST_F(ShellCommands, QuestionMarkAnywhereGivesTheLongHelp) {
    for (const char* command : {"logsetfilter", "loggetfilter", "logdelfilter"}) {
        const std::string help = help_of(command);
        EXPECT_EQ(help.rfind(std::string(command) + " [<CmpName>...]", 0), 0u);
        EXPECT_EQ(collab::shell_run(std::string(command) + " CmpLog x?y 0x00000001"), help);
    }
    EXPECT_EQ(filter("CmpLog"), -1);
}

TEST_F(ShellCommands, SetGetAndDeleteFilters) {
    EXPECT_EQ(collab::shell_run("logsetfilter 0x0000001F"), "Logger.0 : 0x0000001F\r\n");
    EXPECT_EQ(filter("Logger.0"), 0x1F);
    EXPECT_EQ(collab::shell_run("logsetfilter SysFile Logger.2 0x8000ABCD"),
              "SysFile : 0x8000ABCD\r\nLogger.2 : 0x8000ABCD\r\n");
    EXPECT_EQ(filter("SysFile"), static_cast<RTS_I32>(0x8000ABCD));
    EXPECT_EQ(filter("Logger.2"), static_cast<RTS_I32>(0x8000ABCD));
    EXPECT_EQ(
        testlog::count_starting("Logfilter for SysFile was set to 0x8000ABCD with logsetfilter in PLC Shell"),
        1);
    EXPECT_EQ(collab::shell_run("loggetfilter"), "Logger.0.Filter : 0x0000001F\r\n");
    EXPECT_EQ(collab::shell_run("loggetfilter CmpLog Logger.2"),
              "CmpLog.Filter : Key not found\r\nLogger.2.Filter : 0x8000ABCD\r\n");
    EXPECT_EQ(collab::shell_run("logdelfilter SysFile CmpLog"),
              "SysFile : deleted\r\nCmpLog.Filter : Key not found\r\n");
    EXPECT_EQ(testlog::count_starting("Logfilter for SysFile was deleted with logdelfilter in PLC Shell"), 1);
    EXPECT_EQ(collab::shell_run("loggetfilter SysFile"), "SysFile.Filter : Key not found\r\n");
}

// A thousand names take the lists off the stack; each is handled.
TEST_F(ShellCommands, ManyTargets) {
    std::string line = "logsetfilter", expected;
    for (int i = 0; i < 1000; ++i) {
        line += i % 2 ? " SysFile" : " Logger." + std::to_string(i);
        expected += i % 2 ? "SysFile : 0x00000003\r\n" : "Logger." + std::to_string(i) + " : 0x00000003\r\n";
    }
    EXPECT_EQ(collab::shell_run(line + " 0x00000003"), expected);
    EXPECT_EQ(filter("Logger.998"), 3);
}

// ---- the clock ------------------------------------------------------------------------------

RTS_UI64 g_setMs;
RTS_I64 g_nowMs;
rts::OsError g_setError;

class ClockCommands : public ShellCommands {
protected:
    void SetUp() override {
        ShellCommands::SetUp();
        calls_ = systimertc_os::platform_calls();
        calls_.read_clock = [](RTS_I64* ms, const char**) { return *ms = g_nowMs, rts::kOsOk; };
        calls_.set_clock = [](RTS_UI64 ms, const char** pCall) {
            return *pCall = "set", g_setMs = ms, g_setError;
        };
        systimertc_os::set_calls(&calls_);
        g_setMs = 0;
        g_setError = rts::kOsOk;
    }
    void TearDown() override {
        systimertc_os::set_calls(nullptr);
        ShellCommands::TearDown();
    }
    systimertc_os::Calls calls_{};
};

RTS_UI64 utc_ms(int y, int mo, int d, int h, int mi, int s, int ms) {
    std::tm t{};
    t.tm_year = y - 1900, t.tm_mon = mo - 1, t.tm_mday = d, t.tm_hour = h, t.tm_min = mi, t.tm_sec = s;
#ifdef _WIN32
    return static_cast<RTS_UI64>(_mkgmtime(&t)) * 1000 + ms;
#else
    return static_cast<RTS_UI64>(timegm(&t)) * 1000 + ms;
#endif
}

TEST_F(ClockCommands, SetParsesStrictly) {
    const std::string invalid = "Invalid timestamp given. See required format.\r\n";
    const struct {
        const char* argument;
        RTS_UI64 ms; // 0: refused
    } rows[] = {
        {"2026-12-04T10:05:03,250", utc_ms(2026, 12, 4, 10, 5, 3, 250)},
        {"2026-12-04T10:05:03", utc_ms(2026, 12, 4, 10, 5, 3, 0)},
        {"2024-02-29T23:59:59,000", utc_ms(2024, 2, 29, 23, 59, 59, 0)},
        {"2026-12-04T10:05:03.250", 0},
        {"26-12-04T10:05:03", 0},
        {"2026-12-04T24:05:03", 0},
        {"2026-13-04T10:05:03", 0},
        {"2026-12-00T10:05:03", 0},
        {"2026-12-04T10:60:03", 0},
        {"2026-12-04T10:05:60", 0},
        {"0000-12-04T10:05:03", 0},
        {"2026-12-04T10:05:03,25", 0},
        {"2026-12-04T10:05:03,2500", 0},
        {"2026-12-04T10:05:03,0a0", 0},
        {"2026-1-04T10:05:03", 0},
        {"2026-12-04 10:05:03", 0},
        {"", 0},
    };
    for (const auto& row : rows) {
        g_setMs = 0;
        const std::string answer = collab::shell_run(std::string("rtc-set ") + row.argument);
        EXPECT_EQ(g_setMs, row.ms) << row.argument;
        if (row.ms == 0) {
            EXPECT_EQ(answer, invalid) << row.argument;
        }
    }
    EXPECT_EQ(collab::shell_run("rtc-set 2026-12-04T10:05:03,007"),
              "RTC successfully set to 2026-12-04T10:05:03,007Z\r\n");
}

TEST_F(ClockCommands, GetAndFailedSet) {
    g_nowMs = static_cast<RTS_I64>(utc_ms(2026, 12, 4, 10, 5, 3, 42));
    EXPECT_EQ(collab::shell_run("rtc-get"), "Current UTC date and time: 2026-12-04T10:05:03,042Z\r\n");
    g_setError = calls_.missing_privilege;
    EXPECT_EQ(collab::shell_run("rtc-set 2026-12-04T10:05:03"), "SysTimeRtcHighResSet failed: result=25\r\n");
}

} // namespace
