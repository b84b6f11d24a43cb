// Dumping to backend instances made through the manager, the text forms of an entry against
// the C library's calendar, and writers, a reader and a dumper on one ring at the same time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "framework_fixture.h"
#include "log/cmplog_internal.h"
#include "log_reader.h"
#include "log_test_logger.h"

namespace {

using testlogger::Texts;
using LogDump = testfw::Framework;

constexpr RTS_UI32 kBackendCmpId = 0x7701;
constexpr RTS_UI32 kFirstClass = 0x4201;
constexpr RTS_RESULT kBackendFailure = 99;

// A backend class of the test: each instance keeps what it was handed; the call numbered failAt
// fails once.
struct TestBackend {
    LogBackendInstance base;
    ILogBackend itf;
    std::vector<LogEntry> got;
    int calls = 0;
    int failAt = -1;
};
std::map<RTS_UI32, TestBackend*> g_backends; // the live instance of each class

RTS_HANDLE backend_dump(RTS_HANDLE h, RTS_HANDLE, const LogEntry* e, RTS_RESULT* pResult) {
    auto* b = static_cast<TestBackend*>(h);
    *pResult = b->calls++ == b->failAt ? kBackendFailure : RES_OK;
    if (*pResult == RES_OK) b->got.push_back(*e);
    return h;
}

void* create_backend(RTS_UI32 classId) {
    auto* b = new TestBackend{};
    b->base.QueryInterface = [](void* self, RTS_UI32 id, RTS_RESULT*) -> void* {
        return id == LOG_BACKEND_INTERFACE_ID ? &static_cast<TestBackend*>(self)->itf : nullptr;
    };
    b->itf = {&b->base, [](LogBackendInstance* i, RTS_UI32, RTS_HANDLE) -> RTS_HANDLE { return i; },
              [](RTS_HANDLE, ILogBackend*) { return RES_OK; }, backend_dump};
    return g_backends[classId] = b;
}

RTS_RESULT delete_backend(void* instance) {
    g_backends.erase(static_cast<TestBackend*>(instance)->base.ClassId);
    delete static_cast<TestBackend*>(instance);
    return RES_OK;
}

// The component that owns the test's backend classes, added to the running manager.
void add_backend_classes(int count) {
    const ComponentRecord rec{.id = kBackendCmpId,
                              .name = "TestBackends",
                              .createInstance = create_backend,
                              .deleteInstance = delete_backend,
                              .staticName = 1};
    ASSERT_NE(CMAddComponent(&rec, nullptr), RTS_INVALID_HANDLE);
    for (int i = 0; i < count; ++i) CMRegisterClass(kBackendCmpId, kFirstClass + i);
}

// Four entries per backend per cycle, in ring order; a failed entry comes again on the next
// dump; a class registers once per logger and a fourth finds no slot.
TEST_F(LogDump, BackendsGetEveryEntryInRingOrderFourPerCycleAndAFailedOneAgain) {
    add_backend_classes(4);
    RTS_HANDLE h = testlogger::make("Dumped", LOG_DUMP_CYCLIC | LOG_TS_MS, 16);
    for (RTS_UI32 c = kFirstClass; c < kFirstClass + 4; ++c) EXPECT_EQ(LogRegisterBackend(h, c), RES_OK);
    EXPECT_EQ(LogRegisterBackend(h, kFirstClass), RES_DUPLICATE);
    EXPECT_EQ(g_backends.count(kFirstClass + 3), 0u);
    Texts all;
    for (int i = 0; i < 10; ++i) {
        all.push_back(std::to_string(i));
        LogAdd(h, 7, LOG_INFO, 0, 0, "%d", i);
    }
    TestBackend &steady = *g_backends.at(kFirstClass), &failing = *g_backends.at(kFirstClass + 1);
    failing.failAt = 5;
    std::vector<std::pair<RTS_SIZE, RTS_SIZE>> counts;
    for (int cycle = 0; cycle < 4; ++cycle) {
        RTS_RESULT r = cycle == 1 ? LogDumpEntries(h) : CMCallHook(CH_COMM_CYCLE, 0, nullptr, 0);
        EXPECT_EQ(r, cycle == 1 ? kBackendFailure : RES_OK);
        counts.emplace_back(steady.got.size(), failing.got.size());
    }
    EXPECT_EQ(counts, (std::vector<std::pair<RTS_SIZE, RTS_SIZE>>{{4, 4}, {8, 5}, {10, 9}, {10, 10}}));
    EXPECT_EQ(testlogger::texts_of(steady.got), all);
    EXPECT_EQ(testlogger::texts_of(failing.got), all);
    // Unregistered, the class keeps its slot.
    EXPECT_EQ(LogUnregisterBackend(h, kFirstClass), RES_OK);
    EXPECT_EQ(g_backends.count(kFirstClass), 0u);
    EXPECT_EQ(LogRegisterBackend(h, kFirstClass), RES_DUPLICATE);
}

std::string utc_text(time_t seconds, const char* millis) {
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", std::gmtime(&seconds));
    return text + std::string(millis) + "Z";
}

// The C library's local date and time, and its zone offset ("Z" when there is none).
std::string local_text(time_t seconds, const char* millis) {
    const std::tm local = *std::localtime(&seconds), utc = *std::gmtime(&seconds);
    const auto fields = [](const std::tm& t) {
        using namespace std::chrono;
        return sys_days{year{t.tm_year + 1900} / (t.tm_mon + 1) / t.tm_mday} + hours{t.tm_hour} +
               minutes{t.tm_min};
    };
    const auto offset = std::chrono::duration_cast<std::chrono::minutes>(fields(local) - fields(utc)).count();
    char text[48];
    int n = static_cast<int>(std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local));
    if (offset == 0) return text + std::string(millis) + "Z";
    std::snprintf(text + n, sizeof text - n, "%s%c%02d:%02d", millis, offset < 0 ? '-' : '+',
                  static_cast<int>(std::abs(offset) / 60), static_cast<int>(std::abs(offset) % 60));
    return text;
}

// Where the framework takes its zone from TZ as the C library does, a zone half an hour off the
// hour east of Greenwich, without daylight saving, for the scope; Windows keeps its own zone.
struct EastZone {
#ifndef _WIN32
    const std::string saved = std::getenv("TZ") != nullptr ? std::getenv("TZ") : "";
    EastZone() {
        setenv("TZ", "XYZ-05:30", 1), tzset();
    }
    ~EastZone() {
        (saved.empty() ? unsetenv("TZ") : setenv("TZ", saved.c_str(), 1)), tzset();
    }
#endif
};

TEST(LogText, CsvLinesAndTimestampsMatchTheCalendarOfTheCLibrary) {
    constexpr RTS_UI64 kMs = 1764857103007;
    constexpr RTS_UI64 kBeforeMidnight = 1751313600007; // UTC; the next day east of Greenwich
    [[maybe_unused]] const EastZone zone;
    const std::string tail = ", 0x00000013, 8, 1, 2, #### Exception: x";
    // the logger's type, the entry's timestamp, class and text, and the line
    const std::tuple<RTS_UI32, RTS_UI64, RTS_UI32, const char*, std::string> rows[] = {
        {LOG_TS_MS, 1234, LOG_ERROR, "disk full\r\n", "00001234, 0x00000013, 4, 1, 2, **** ERROR: disk full"},
        {LOG_TS_MS | LOG_SHORT_FORMAT, 1234, LOG_WARNING, "w\n", "00001234, !!!! Warning: w"},
        {LOG_TS_US, 5, LOG_ERROR | LOG_WARNING, "x", "00000000000005, 0x00000013, 6, 1, 2, x"},
        {LOG_TS_NS, 123456789012345678, LOG_EXCEPTION, "x", "123456789012345678" + tail},
        {LOG_TS_RTC_HIGHRES, kMs, LOG_EXCEPTION, "x", utc_text(kMs / 1000, ".007") + tail},
        {LOG_TS_RTC, kMs / 1000, LOG_EXCEPTION, "x", utc_text(kMs / 1000, "") + tail},
        {LOG_TS_RTC_HIGHRES | LOG_LOCALTIME, kMs, LOG_EXCEPTION, "x", local_text(kMs / 1000, ".007") + tail},
        {LOG_TS_RTC_HIGHRES | LOG_LOCALTIME, kBeforeMidnight, LOG_EXCEPTION, "x",
         local_text(kBeforeMidnight / 1000, ".007") + tail},
        {0, 0xFFFFFFFF00000007, LOG_EXCEPTION, "x", "00000007" + tail},
    };
    for (const auto& [type, ts, classId, text, expected] : rows) {
        const LogOptions options{"", 1, type, 0, 1, 0, 0, nullptr};
        LogEntry e{ts, CMPID_CmpLog, classId, 1, 2, {}};
        CMUtlSafeStrCpy(e.InfoText, sizeof e.InfoText, text);
        char line[256];
        EXPECT_EQ(LogFormatCsvMessage(&options, &e, line, sizeof line), RES_OK);
        EXPECT_EQ(line, expected);
        EXPECT_EQ(LogFormatCsvMessage(&options, &e, line, expected.size()), RES_BUFFERSIZE);
    }
}

TEST_F(LogDump, OptionsTextListsWhatIsSet) {
    constexpr RTS_UI32 kType = LOG_TYPE_SAFE | LOG_TS_US | LOG_DUMP_ON_REQUEST | LOG_DUMP_ON_CLOSE;
    const LogOptions o{"Options", 1, kType, 0x1F, 20, 100, 2, nullptr};
    RTS_HANDLE h = LogCreate(&o, nullptr);
    cmplog::log_options(static_cast<cmplog::Logger*>(h));
    EXPECT_EQ(testlogger::texts(h),
              (Texts{"<logoptions>", "<bEnable>1</bEnable>", "<type>safe</type>",
                     "<timestamp>microseconds</timestamp>", "<disableable>1</disableable>",
                     "<dump>on close</dump>", "<Filter>0x0000001f</Filter>", "<MaxEntries>20</MaxEntries>",
                     "<MaxFiles>2</MaxFiles>", "<MaxFileSize>100</MaxFileSize>", "</logoptions>"}));
}

// ---- writers, a reader and a dumper at once -----------------------------------------------

constexpr RTS_UI32 kPerWriter = 200000;
constexpr int kRing = 1000;

// A sequence of entries as a reader or a backend saw them: whether every entry was intact (its
// text the one its writer made from its ids), how often a writer's entries stepped back (the
// writers overtook the reader and it went on in the older part of the ring), how often some of
// them were missing (overwritten unseen), and how many there were.
struct Sequence {
    long last[2] = {-1, -1};
    bool intact = true;
    int backs = 0, gaps = 0, count = 0;
    void see(const LogEntry& e) {
        char text[32];
        std::snprintf(text, sizeof text, "w%u s%u", e.ErrorId, e.InfoId);
        intact = intact && e.CmpId == 7 && e.ErrorId < 2 && std::strcmp(text, e.InfoText) == 0;
        if (!intact) return;
        long& before = last[e.ErrorId];
        backs += static_cast<long>(e.InfoId) <= before ? 1 : 0;
        gaps += before >= 0 && static_cast<long>(e.InfoId) > before + 1 ? 1 : 0;
        before = e.InfoId;
        ++count;
    }
};

Sequence walk(RTS_HANDLE h) {
    Sequence s;
    LogEntry e;
    RTS_RESULT r = RES_OK;
    for (int i = LogGetFirstEntry(h, &e, &r); r == RES_OK; i = LogGetNextEntry(h, i, &e, &r)) s.see(e);
    return s;
}

// Each writer's entries keep its order, except where the writers overtook a reader: a walk
// can be overtaken where it starts (its oldest entry overwritten before it is read) and where it
// ends (a slot each writer has taken but not yet marked), the dumper at most once per lap.
TEST_F(LogDump, WritersReaderAndDumperShareOneRingWithoutTornOrReorderedEntries) {
    constexpr int kLaps = 2 * kPerWriter / kRing;
    add_backend_classes(1);
    RTS_HANDLE h = testlogger::make("Concurrent", 0, kRing);
    ASSERT_EQ(LogRegisterBackend(h, kFirstClass), RES_OK);
    std::atomic<bool> done{false};
    std::atomic<int> badWalks{0};
    std::thread reader([&] {
        while (!done) {
            const Sequence s = walk(h);
            badWalks += s.intact && s.backs <= 3 ? 0 : 1;
        }
    });
    std::thread dumper([&] {
        while (!done) LogDumpEntries(h);
    });
    std::vector<std::thread> writers;
    for (RTS_UI32 w = 0; w < 2; ++w)
        writers.emplace_back([h, w] {
            for (RTS_UI32 s = 0; s < kPerWriter; ++s) LogAdd(h, 7, LOG_INFO, w, s, "w%u s%u", w, s);
        });
    for (std::thread& t : writers) t.join();
    done = true;
    reader.join();
    dumper.join();
    LogDumpEntries(h);
    EXPECT_EQ(badWalks, 0);
    // The ring ends with each writer's newest entries, in order and without gaps (a writer that
    // finished early may have none left in it). It holds at most a ring's worth: when two
    // reservations race, the oldest index is moved by the slot reserved first and can stay
    // behind the write index until the writers come round to it again, so fewer entries show.
    const Sequence last = walk(h);
    EXPECT_EQ(std::tuple(last.intact, last.backs, last.gaps), std::tuple(true, 0, 0));
    EXPECT_TRUE(last.count > 0 && last.count <= kRing) << last.count;
    for (long newest : last.last) EXPECT_TRUE(newest == -1 || newest == long{kPerWriter - 1}) << newest;
    Sequence dumped;
    for (const LogEntry& e : g_backends.at(kFirstClass)->got) dumped.see(e);
    EXPECT_TRUE(dumped.intact);
    EXPECT_LE(dumped.backs, kLaps);
    // Every slot counted each write into it once.
    RTS_UI64 writes = 0;
    for (int i = 0; i < kRing; ++i) writes += static_cast<cmplog::Logger*>(h)->Ring[i].WriteCount;
    EXPECT_EQ(writes, 2ull * kPerWriter);
}

} // namespace
