/* Program entry: the double quotes removed from every loaded string. The choice of mode and
 * the maintenance run are checked against the real program by the process-level tests. */
#include <gtest/gtest.h>

#include <cstdio>

#include "entry.h"

namespace {

TEST(EntryStrings, RemovesEveryDoubleQuote) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {{"", ""},
                          {"KELVARO Gateway V3", "KELVARO Gateway V3"},
                          {"\"Ombrelin\"", "Ombrelin"},
                          {"\"\"\"", ""},
                          {"a\"\"b\"c", "abc"}};
    for (const Case& c : cases) {
        char buffer[entry::kStringSize];
        std::snprintf(buffer, sizeof buffer, "%s", c.in);
        entry::remove_double_quotes(buffer);
        EXPECT_STREQ(buffer, c.out) << c.in;
    }
}

} // namespace
