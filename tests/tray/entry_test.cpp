/* Program entry: quote removal from loaded strings and the recognition of the maintenance
 * run, which must end before the framework starts. */
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "entry.h"

namespace {

TEST(EntryStrings, RemovesEveryDoubleQuote) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"", ""},
        {"KELVARO Gateway V3", "KELVARO Gateway V3"},
        {"\"Ombrelin\"", "Ombrelin"},
        {"\"\"\"", ""},
        {"a\"\"b\"c", "abc"},
        {"\"", ""},
    };
    for (const Case& c : cases) {
        char buffer[entry::kStringSize];
        std::snprintf(buffer, sizeof buffer, "%s", c.in);
        entry::remove_double_quotes(buffer);
        EXPECT_STREQ(buffer, c.out) << c.in;
    }
}

TEST(EntryMaintenance, RecognisesOnlyExactlyThreeWordsWithMaintenance) {
    struct Case {
        std::vector<std::u16string> words;
        bool maintenance;
    };
    const Case cases[] = {
        {{u"gc", u"maintenance", u"C:\\Gateway.cfg"}, true},
        {{u"gc", u"maintenance", u""}, true},
        {{u"gc", u"Maintenance", u"C:\\Gateway.cfg"}, false},
        {{u"gc", u"maintenance "}, false},
        {{u"gc", u"maintenance"}, false},
        {{u"gc", u"maintenance", u"a", u"b"}, false},
        {{u"gc", u"maintenancex", u"a"}, false},
    };
    for (const Case& c : cases) {
        entry::CommandLine commandLine;
        commandLine.textEmpty = false;
        commandLine.wideWords = c.words;
        EXPECT_EQ(entry::is_maintenance_run(commandLine), c.maintenance) << c.words.size();
    }
}

TEST(EntryMaintenance, EndsWithOneBeforeAnythingStarts) {
    entry::CommandLine commandLine;
    commandLine.textEmpty = false;
    commandLine.words = {"gc", "maintenance", "/nonexistent/dir/Gateway.cfg"};
    commandLine.wideWords = {u"gc", u"maintenance", u"/nonexistent/dir/Gateway.cfg"};
    EXPECT_EQ(entry::gateway_control_main(commandLine), 1);
}

} // namespace
