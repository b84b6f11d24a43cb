// The online log service through our server: requests written with our tag writer, answers read
// back tag by tag and compared with the logger's ring as the logger's own reading functions
// give it.
#include <gtest/gtest.h>

#include <cstring>

#include "collab_framework.h"

namespace {

using collab::Tag;
using collab::TagBuilder;

constexpr RTS_UI16 kGroup = 5;

// The answer's tags; a request that got no answer gives none.
std::vector<Tag> ask(RTS_UI16 command, TagBuilder request, RTS_UI32 answerSize = 4096) {
    collab::Answer a = collab::server_request(kGroup, command, 7, request.bytes(), answerSize);
    EXPECT_FALSE(a.overrun);
    std::vector<Tag> tags;
    EXPECT_TRUE(collab::parse_tags(a.bytes, tags));
    return tags;
}

using OnlineLog = shelltest::CollabFramework;

// The shown entries of the standard logger, as its reader gives them: index and text.
std::vector<std::pair<RTS_UI32, std::string>> ring() {
    std::vector<std::pair<RTS_UI32, std::string>> shown;
    LogEntry e{};
    RTS_RESULT r = RES_OK;
    for (int i = LogGetFirstEntry(nullptr, &e, &r); r == RES_OK; i = LogGetNextEntry(nullptr, i, &e, &r))
        if ((e.ClassId & (LOG_PRINTF | LOG_COM)) == 0) shown.emplace_back(i, e.InfoText);
    return shown;
}

// Reads the whole ring in portions of at most `count` entries or what fits into `size` bytes,
// continuing after the last index received, as a client does.
std::vector<std::pair<RTS_UI32, std::string>> read_all(RTS_UI32 count, RTS_UI32 size, int& portions) {
    std::vector<std::pair<RTS_UI32, std::string>> got;
    for (portions = 0; portions < 1000; ++portions) {
        TagBuilder request;
        request.text(1, "PlcLog").u32(4, count);
        if (!got.empty()) request.u32(2, got.back().first);
        std::vector<Tag> tags = ask(1, request, size);
        EXPECT_EQ(tags.back().id, 1u);
        EXPECT_EQ(tags.back().u16(), RES_NOMOREENTRIES);
        const std::size_t before = got.size();
        for (const Tag& t : tags)
            if (t.id == 130) got.emplace_back(t.children[0].u32(), t.children[3].text());
        if (got.size() == before) break;
    }
    return got;
}

TEST_F(OnlineLog, PortionsGiveEveryShownEntryOnceInOrder) {
    for (int i = 0; i < 40; ++i)
        LogAdd(nullptr, 0x77,
               i % 4 == 0   ? LOG_PRINTF
               : i % 4 == 1 ? LOG_COM
                            : LOG_WARNING,
               0, 0, "entry %d", i);
    const auto expected = ring();
    const struct {
        RTS_UI32 count, size;
        int portions;
    } rows[] = {{5, 4096, 0}, {1000, 400, 0}, {1000, 65536, 0}};
    for (const auto& row : rows) {
        int portions = 0;
        EXPECT_EQ(read_all(row.count, row.size, portions), expected) << row.count << " " << row.size;
        if (row.count == 5) {
            EXPECT_GE(portions, static_cast<int>(expected.size() / 5));
        }
    }
}

TEST_F(OnlineLog, EntryContainerHoldsIndexTimestampIdsAndText) {
    LogAdd(nullptr, 0x77, LOG_INFO, 0, 0, "before");
    LogAdd(nullptr, 0x77, LOG_ERROR, 42, 43, "the entry");
    const auto shown = ring();
    LogEntry e{};
    ASSERT_EQ(LogGetEntry(nullptr, static_cast<int>(shown.back().first), &e), RES_OK);
    std::vector<Tag> tags = ask(1, TagBuilder().text(1, "PlcLog").u32(2, shown[shown.size() - 2].first));
    ASSERT_EQ(tags.size(), 2u);
    const std::vector<Tag>& c = tags[0].children;
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0].content.size(), 8u);
    EXPECT_EQ(c[1].id, 9u); // the standard logger keeps high-resolution clock times
    RTS_UI64 timestamp = 0;
    std::memcpy(&timestamp, c[1].content.data(), 8);
    EXPECT_EQ(timestamp, e.Timestamp);
    EXPECT_EQ((std::vector<RTS_UI32>{c[2].u32(0), c[2].u32(4), c[2].u32(8), c[2].u32(12)}),
              (std::vector<RTS_UI32>{0x77, LOG_ERROR, 42, 43}));
    EXPECT_EQ(c[3].text(), "the entry");
    EXPECT_EQ(c[3].content.size() % 4, 0u);
}

TEST_F(OnlineLog, MovedRingAnswers14BeforeTheEntries) {
    LogAdd(nullptr, 0x77, LOG_INFO, 0, 0, "a");
    LogAdd(nullptr, 0x77, LOG_INFO, 0, 0, "b");
    const auto shown = ring();
    LogEntry e{};
    LogGetEntry(nullptr, static_cast<int>(shown[shown.size() - 2].first), &e);
    for (RTS_UI32 stamp : {static_cast<RTS_UI32>(e.Timestamp), static_cast<RTS_UI32>(e.Timestamp) + 1}) {
        std::vector<Tag> tags =
            ask(1, TagBuilder().text(1, "PlcLog").u32(2, shown[shown.size() - 2].first).u32(3, stamp));
        const bool moved = stamp != static_cast<RTS_UI32>(e.Timestamp);
        ASSERT_EQ(tags.size(), moved ? 3u : 2u);
        if (moved) {
            EXPECT_EQ(tags[0].u16(), 14u);
        }
        EXPECT_EQ(tags[moved].children[3].text(), "b");
    }
}

TEST_F(OnlineLog, NamesOfComponentsAndLoggers) {
    std::vector<Tag> tags = ask(2, TagBuilder().u32(5, CMPID_CmpLog).u32(5, 0x0777).u32(5, CMPID_SysFile));
    ASSERT_EQ(tags.size(), 3u);
    EXPECT_EQ(tags[0].text(), "CmpLog");
    EXPECT_EQ(tags[1].u16(), RES_NO_OBJECT);
    EXPECT_EQ(tags[2].text(), "SysFile");
    tags = ask(2, TagBuilder().u32(5, CMPID_SysSemProcess), 20);
    ASSERT_EQ(tags.size(), 1u);
    EXPECT_EQ(tags[0].u16(), 27u);

    LogOptions options{"SecondLogger", 1, LOG_DEFAULT_TYPE, LOG_DEFAULT_FILTER, 10, 0, 0, nullptr};
    RTS_HANDLE second = LogCreate(&options, nullptr);
    tags = ask(3, TagBuilder());
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(tags[0].text() + " " + tags[1].text(), "PlcLog SecondLogger");
    tags = ask(3, TagBuilder(), 36); // room for the first name and a status only
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(tags[1].u16(), 27u);
    RTS_UI64 next = 0;
    std::memcpy(&next, tags[1].content.data() + 2, 8);
    EXPECT_EQ(next, reinterpret_cast<RTS_UINTPTR>(second));
    tags = ask(3, TagBuilder().blob(2, &next, 8));
    ASSERT_EQ(tags.size(), 1u);
    EXPECT_EQ(tags[0].text(), "SecondLogger");
    RTS_UI64 unknown = next + 1;
    EXPECT_EQ(ask(3, TagBuilder().blob(2, &unknown, 8))[0].u16(), RES_NO_OBJECT);
}

TEST_F(OnlineLog, RefusedShortUnknownAndMissing) {
    EXPECT_EQ(ask(1, TagBuilder().text(1, "NoSuchLogger"))[0].u16(), RES_FAILED);
    collab::deny("Device.Logger", 1);
    std::vector<Tag> tags = ask(3, TagBuilder());
    ASSERT_EQ(tags.size(), 1u);
    EXPECT_EQ(tags[0].id, USERMGR_TAG_ACCESS_ERROR);
    collab::reset_rights();
    collab::Answer a =
        collab::server_request(kGroup, 1, 7, TagBuilder().text(1, "PlcLog").bytes(), 4096, 100);
    EXPECT_EQ(a.result, RES_PARAMETER);
    EXPECT_FALSE(a.sent);
    a = collab::server_request(kGroup, 9, 7, {});
    EXPECT_FALSE(a.sent);
    EXPECT_EQ(collab::user_objects(), std::vector<std::string>{"Device.Logger"});
}

} // namespace
