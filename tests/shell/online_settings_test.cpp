// The online settings service through our server: each command and each status value, the
// change check with a listener that refuses or waves a change through, rights on "SECURITY"
// keys, several writes at once and the listing that listeners fill; what is written is read
// back through the settings' own functions.
#include <gtest/gtest.h>

#include <cstring>

#include "cmpsettings.h"
#include "collab_framework.h"
#include "mempool.h"

namespace {

using collab::Tag;
using collab::TagBuilder;

constexpr const char* kSection = "OnlineTest";

using OnlineSettings = shelltest::CollabFramework;

// A single-setting request: container 129 with the component, the key and what `value` adds.
TagBuilder single(const char* key, const std::function<void(TagBuilder&)>& value = {}) {
    TagBuilder b;
    b.open(129).text(16, kSection).text(17, key);
    if (value) value(b);
    b.close(129);
    return b;
}

std::vector<Tag> ask(RTS_UI16 command, TagBuilder request, RTS_UI32 answerSize = 4096,
                     RTS_RESULT* pResult = nullptr) {
    collab::Answer a = collab::server_request(6, command, 3, request.bytes(), answerSize);
    EXPECT_FALSE(a.overrun);
    if (pResult != nullptr) *pResult = a.result;
    std::vector<Tag> tags;
    EXPECT_TRUE(collab::parse_tags(a.bytes, tags));
    return tags;
}

RTS_I32 number(const char* key) {
    RTS_I32 value = -1;
    SettgGetIntValue(kSection, key, &value, -1, 0);
    return value;
}

TEST_F(OnlineSettings, EachCommandAndStatus) {
    auto int42 = [](TagBuilder& b) { b.u32(18, 42); };
    auto hello = [](TagBuilder& b) { b.blob(19, "hello", 5); };
    const struct {
        RTS_UI16 command;
        TagBuilder request;
        RTS_UI32 tag, status;
        RTS_UI32 answerSize;
    } rows[] = {
        {2, single("Number", int42), 1, RES_OK, 4096},  {4, single("Text", hello), 1, RES_OK, 4096},
        {2, single("Number"), 1, RES_PARAMETER, 4096},  {4, single("", hello), 1, RES_PARAMETER, 4096},
        {1, TagBuilder().u32(16, 1), 20, 0x0300, 4096}, {3, single("Text"), 20, RES_BUFFERSIZE, 12},
        {5, single("Other"), 1, RES_NO_OBJECT, 4096},
    };
    for (const auto& row : rows) {
        std::vector<Tag> tags = ask(row.command, row.request, row.answerSize);
        ASSERT_EQ(tags.size(), 1u) << row.command;
        EXPECT_EQ(tags[0].id, row.tag) << row.command;
        EXPECT_EQ(tags[0].u16(), row.status) << row.command;
    }
    std::vector<Tag> tags = ask(1, single("Number"));
    EXPECT_EQ(tags[0].u16(), RES_OK);
    EXPECT_EQ(tags[0].u32(2), 42u);
    tags = ask(3, single("Text"));
    EXPECT_EQ(tags[0].text(2), "hello");
    EXPECT_EQ(tags[0].content.size() % 4, 0u);
    EXPECT_EQ(ask(5, single("Number"))[0].u16(), RES_OK);
    EXPECT_EQ(number("Number"), -1);
    RTS_RESULT result = RES_OK;
    EXPECT_TRUE(ask(8, single("Number"), 4096, &result).empty());
    EXPECT_EQ(result, 0x302u);
}

TEST_F(OnlineSettings, ChangeCheckAndReadEvent) {
    SettgSetIntValue(kSection, "Number", 1, 10);
    RTS_RESULT verdict = RES_OK;
    std::vector<RTS_I32> seen; // the stored value and the new one, at the time of the check
    collab::listen(CMPID_CmpSettings, SETTG_EVENT_CHANGE, [&](void* p) {
        auto* e = static_cast<SettgChangeEvent*>(p);
        seen = {number(e->change->key), *static_cast<const RTS_I32*>(e->change->value)};
        e->result = verdict;
    });
    const struct {
        RTS_RESULT verdict, answer;
        RTS_I32 stored;
    } rows[] = {{RES_ALREADY, RES_OK, 1}, {RES_NO_ACCESS, RES_NO_ACCESS, 1}, {RES_OK, RES_OK, 7}};
    for (const auto& row : rows) {
        verdict = row.verdict;
        EXPECT_EQ(ask(2, single("Number", [](TagBuilder& b) { b.u32(18, 7); }))[0].u16(), row.answer);
        EXPECT_EQ(seen, (std::vector<RTS_I32>{1, 7}));
        EXPECT_EQ(number("Number"), row.stored);
    }
    collab::listen(CMPID_CmpSettings, SETTG_EVENT_READ,
                   [](void* p) { static_cast<SettgReadEvent*>(p)->result = RES_NOT_ALLOWED; });
    std::vector<Tag> tags = ask(1, single("Number"));
    EXPECT_EQ(tags[0].u16(), RES_NOT_ALLOWED);
    EXPECT_EQ(tags[0].u32(2), 0u);
}

TEST_F(OnlineSettings, RightsOnTheServiceAndOnSecurityKeys) {
    int checks = 0, reads = 0;
    collab::listen(CMPID_CmpSettings, SETTG_EVENT_CHANGE, [&](void*) { ++checks; });
    collab::listen(CMPID_CmpSettings, SETTG_EVENT_READ, [&](void*) { ++reads; });
    collab::deny("Device.Settings.SecuritySettings", 2);
    collab::deny("Device.Settings.SecuritySettings", 1);
    auto pin = [](TagBuilder& b) { b.u32(18, 1234); };
    EXPECT_EQ(ask(2, single("SECURITY.Pin", pin))[0].u16(), RES_NO_ACCESS);
    EXPECT_EQ(number("SECURITY.Pin"), -1);
    ask(1, single("SECURITY.Pin"));
    EXPECT_EQ(checks + reads, 0);
    collab::deny("Device.Settings", 2);
    std::vector<Tag> tags = ask(2, single("Refused", pin));
    ASSERT_EQ(tags.size(), 1u);
    EXPECT_EQ(tags[0].id, USERMGR_TAG_ACCESS_ERROR);
    EXPECT_EQ(number("Refused"), -1);
    EXPECT_EQ(ask(1, single("Refused"))[0].id, 1u);
}

TEST_F(OnlineSettings, SeveralWritesAnswerEachInOrder) {
    TagBuilder b;
    b.open(134).text(32, "why").open(135).text(16, kSection).text(17, "Number").close(135);
    b.open(138).u32(18, 5).close(138).close(134);
    b.open(134).open(135).text(16, kSection).text(17, "Text").close(135);
    b.open(136).text(35, "from 35").close(136).close(134);
    b.open(134).open(135).text(16, kSection).text(17, "Other").close(135);
    b.open(138).blob(19, "ab\0cd", 5).close(138).close(134);
    b.open(134).open(135).text(16, kSection).close(135).open(138).u32(18, 5).close(138).close(134);
    std::string why;
    collab::listen(CMPID_CmpSettings, SETTG_EVENT_CHANGE, [&](void* p) {
        if (auto* text = static_cast<SettgChangeEvent*>(p)->text) why += text;
    });
    std::vector<Tag> tags = ask(7, b);
    std::vector<RTS_UI32> results;
    for (const Tag& t : tags) results.push_back(t.id == 21 ? t.u16() : 0xFFFF);
    EXPECT_EQ(results, (std::vector<RTS_UI32>{RES_OK, RES_OK, RES_PARAMETER, RES_PARAMETER}));
    EXPECT_EQ(number("Number"), 5);
    char text[32];
    RTS_I32 length = sizeof text;
    SettgGetStringValue(kSection, "Text", text, &length, "", 0);
    EXPECT_STREQ(text, "from 35");
    EXPECT_EQ(why, "why");
}

// Listeners describe three settings in the service's pool at every listing.
TEST_F(OnlineSettings, ListingContinuesAfterTheNamedSetting) {
    static const RTS_UI8 extra[] = {33, 0, 0, 0, 4, 0, 0, 0, 'd', 'e', 's', 0};
    collab::listen(CMPID_CmpSettings, SETTG_EVENT_LISTING, [](void* p) {
        auto* e = static_cast<SettgListingEvent*>(p);
        for (const char* key : {"A", "B", "C"}) {
            auto* entry = static_cast<SettgListingEntry*>(MemPoolGetBlock(e->pool, nullptr));
            ASSERT_NE(entry, nullptr);
            *entry = SettgListingEntry{kSection, key, extra, sizeof extra};
            MemPoolAppendUsedBlock(entry);
        }
    });
    auto keys = [](const std::vector<Tag>& tags) {
        std::string listed;
        for (const Tag& t : tags) {
            EXPECT_EQ(t.children.size(), 2u);
            EXPECT_EQ(t.children[1].text(), "des");
            listed += t.children[0].children[1].text();
        }
        return listed;
    };
    for (int round = 0; round < 2; ++round) EXPECT_EQ(keys(ask(6, TagBuilder())), "ABC");
    EXPECT_EQ(keys(ask(6, TagBuilder().open(134).text(16, kSection).text(17, "B").close(134))), "C");
    EXPECT_EQ(keys(ask(6, TagBuilder(), 60)), "A");
}

// A device backup puts the files that FileReference settings name (up to the first missing
// index) into one package; other actions make none.
TEST_F(OnlineSettings, BackupPacksTheReferencedFiles) {
    collab::reset_packages();
    const char* refs[] = {"/data/a.cfg,x", "plain", "C:\\b.cfg", nullptr, "/after"};
    for (int n = 0; n < 5; ++n)
        if (refs[n] != nullptr)
            SettgSetStringValue("CmpSettings", ("FileReference." + std::to_string(n)).c_str(), refs[n], 0);
    for (RTS_UI32 action : {DM_ACTION_RESTORE, DM_ACTION_BACKUP}) {
        DMBackupEvent event{action, nullptr, RES_OK};
        EXPECT_EQ((collab::post(DM_CMPID, DM_EVENT_BACKUP, &event), event.result), RES_OK);
    }
    const std::vector<collab::Package> made = collab::packages();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].name + " " + std::to_string(made[0].cmpId) + " " + std::to_string(made[0].closed),
              "Settings 26 1");
    using File = std::pair<std::string, std::string>;
    EXPECT_EQ(made[0].files,
              (std::vector<File>{{"/data/a.cfg", "FileReference.0"}, {"C:\\b.cfg", "FileReference.2"}}));
}

} // namespace
