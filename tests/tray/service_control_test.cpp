/* SendServiceControlRequest against a scripted block: the peer's answer is played from the
 * fake sleep, so every step of the exchange (open, write, poll, answer, close, semaphore) is
 * checked without a second process. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmplog.h"
#include "service_control.h"

namespace {

RTS_HANDLE const kMutex = reinterpret_cast<RTS_HANDLE>(0x5E7A);
RTS_HANDLE const kShm = reinterpret_cast<RTS_HANDLE>(0x5A7E);
constexpr RTS_UI32 kUntouched = 0xDEADBEEF;

/* One scripted peer and the record of what the request did. */
struct FakeChannel {
    alignas(8) unsigned char block[service_control::kBlockSize] = {};
    bool allocFails = false;
    RTS_HANDLE openHandle = kShm;
    RTS_RESULT openResult = RES_OK;
    RTS_RESULT pointerResult = RES_OK;
    RTS_UI32 answerOnSleep = 1; /* 0: the peer never answers */
    RTS_UI32 peerResult = RES_OK;
    RTS_UI32 peerState = 0;

    std::vector<std::string> calls;
    std::string openedName;
    RTS_SIZE requestedSize = 0;
    RTS_HANDLE closedHandle = nullptr;
    RTS_UI32 sleeps = 0;
    RTS_UI32 handshakeAtFirstSleep = 0;
    RTS_UI32 commandAtFirstSleep = 0;
    std::string nameAtFirstSleep;

    RTS_UI32 word(RTS_SIZE offset) const {
        RTS_UI32 w;
        std::memcpy(&w, block + offset, sizeof w);
        return w;
    }
    void set_word(RTS_SIZE offset, RTS_UI32 w) { std::memcpy(block + offset, &w, sizeof w); }
};

FakeChannel* g_fake = nullptr;

void* fake_alloc(const char*, RTS_SIZE size, RTS_RESULT*) {
    g_fake->calls.push_back("alloc");
    return g_fake->allocFails ? nullptr : ::operator new(size);
}
RTS_RESULT fake_free(const char*, void* address) {
    g_fake->calls.push_back("free");
    ::operator delete(address);
    return RES_OK;
}
RTS_RESULT fake_enter(RTS_HANDLE h, RTS_UI32 timeout) {
    EXPECT_EQ(h, kMutex);
    EXPECT_EQ(timeout, 0xFFFFFFFFu);
    g_fake->calls.push_back("enter");
    return RES_OK;
}
RTS_RESULT fake_leave(RTS_HANDLE h) {
    EXPECT_EQ(h, kMutex);
    g_fake->calls.push_back("leave");
    return RES_OK;
}
RTS_HANDLE fake_open(const char* name, RTS_UINTPTR physical, RTS_SIZE* pSize, RTS_RESULT* pResult) {
    g_fake->calls.push_back("open");
    g_fake->openedName = name;
    g_fake->requestedSize = *pSize;
    EXPECT_EQ(physical, 0u);
    if (pResult != nullptr) *pResult = g_fake->openResult;
    return g_fake->openHandle;
}
RTS_RESULT fake_close(RTS_HANDLE h) {
    g_fake->calls.push_back("close");
    g_fake->closedHandle = h;
    return RES_OK;
}
void* fake_pointer(RTS_HANDLE h, RTS_RESULT* pResult) {
    g_fake->calls.push_back("pointer");
    if (pResult != nullptr) *pResult = g_fake->pointerResult;
    return g_fake->block;
}
void fake_sleep(RTS_UI32 ms) {
    EXPECT_EQ(ms, service_control::kPollMs);
    FakeChannel& f = *g_fake;
    if (++f.sleeps == 1) {
        f.handshakeAtFirstSleep = f.word(service_control::kHandshakeOffset);
        f.commandAtFirstSleep = f.word(service_control::kCommandOffset);
        f.nameAtFirstSleep = reinterpret_cast<const char*>(f.block + service_control::kNameOffset);
    }
    if (f.sleeps == f.answerOnSleep) {
        f.set_word(service_control::kResultOffset, f.peerResult);
        f.set_word(service_control::kNameOffset, f.peerState);
        f.set_word(service_control::kHandshakeOffset, service_control::kHandshakeAnswered);
    }
}

constexpr service_control::Ops kFakeOps = {fake_alloc, fake_free,  fake_enter,   fake_leave,
                                           fake_open,  fake_close, fake_pointer, fake_sleep};

class ServiceControlRequest : public ::testing::Test {
protected:
    void SetUp() override {
        g_fake = &fake;
        service_control::set_ops(&kFakeOps);
        service_control::bind("Ombrelin", kMutex);
        LogEarlyBufferClear();
    }
    void TearDown() override {
        service_control::set_ops(nullptr);
        service_control::bind(nullptr, RTS_INVALID_HANDLE);
        g_fake = nullptr;
    }
    FakeChannel fake;
};

using Calls = std::vector<std::string>;
const Calls kAnsweredCalls = {"alloc", "enter", "open", "free", "pointer", "close", "leave"};
const Calls kOpenFailedCalls = {"alloc", "enter", "open", "close", "free", "leave"};

TEST_F(ServiceControlRequest, AnswersAndFailuresGiveResultAndState) {
    struct Case {
        const char* what;
        RTS_HANDLE openHandle;
        RTS_RESULT openResult;
        RTS_RESULT pointerResult;
        RTS_UI32 answerOnSleep;
        RTS_UI32 peerResult;
        RTS_UI32 peerState;
        RTS_RESULT expectedResult;
        RTS_UI32 expectedState;
        RTS_UI32 expectedSleeps;
        const Calls* expectedCalls;
    };
    const Case cases[] = {
        {"running", kShm, RES_OK, RES_OK, 1, 0, 4, RES_OK, 4, 1, &kAnsweredCalls},
        {"stopped after a few polls", kShm, RES_OK, RES_OK, 7, 0, 1, RES_OK, 1, 7, &kAnsweredCalls},
        {"answer on the last allowed read", kShm, RES_OK, RES_OK, 500, 0, 4, RES_OK, 4, 500, &kAnsweredCalls},
        {"peer silent", kShm, RES_OK, RES_OK, 0, 0, 4, RES_FAILED, kUntouched, 501, &kAnsweredCalls},
        {"peer reports failure", kShm, RES_OK, RES_OK, 2, 1060, 4, 1060, kUntouched, 2, &kAnsweredCalls},
        {"pointer reports failure", kShm, RES_OK, RES_PARAMETER, 1, 0, 4, RES_PARAMETER, kUntouched, 1,
         &kAnsweredCalls},
        {"no peer", RTS_INVALID_HANDLE, RES_NO_OBJECT, RES_OK, 1, 0, 4, RES_FAILED, kUntouched, 0,
         &kOpenFailedCalls},
        {"opened but not locked", kShm, RES_NOT_LOCKED, RES_OK, 1, 0, 4, RES_FAILED, kUntouched, 0,
         &kOpenFailedCalls},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake = FakeChannel{};
        fake.openHandle = c.openHandle;
        fake.openResult = c.openResult;
        fake.pointerResult = c.pointerResult;
        fake.answerOnSleep = c.answerOnSleep;
        fake.peerResult = c.peerResult;
        fake.peerState = c.peerState;
        RTS_UI32 state = kUntouched;

        EXPECT_EQ(SendServiceControlRequest(service_control::kCommandQuery, "KeLvAro Gateway V3", &state),
                  c.expectedResult);
        EXPECT_EQ(state, c.expectedState);
        EXPECT_EQ(fake.sleeps, c.expectedSleeps);
        EXPECT_EQ(fake.calls, *c.expectedCalls);
        EXPECT_EQ(fake.openedName, "ServiceControl_Ombrelin");
        EXPECT_EQ(fake.requestedSize, 524u);
        EXPECT_EQ(fake.closedHandle, c.openHandle);
    }
}

TEST_F(ServiceControlRequest, WritesCommandAndNameBeforeHandshake) {
    EXPECT_EQ(SendServiceControlRequest(service_control::kCommandStop, "KELVARO Gateway V3", nullptr), RES_OK);
    EXPECT_EQ(fake.handshakeAtFirstSleep, service_control::kHandshakePending);
    EXPECT_EQ(fake.commandAtFirstSleep, service_control::kCommandStop);
    EXPECT_EQ(fake.nameAtFirstSleep, "KELVARO Gateway V3");
}

TEST_F(ServiceControlRequest, SilentPeerLeavesRequestPending) {
    fake.answerOnSleep = 0;
    EXPECT_EQ(SendServiceControlRequest(service_control::kCommandStart, "svc", nullptr), RES_FAILED);
    EXPECT_EQ(fake.word(service_control::kHandshakeOffset), service_control::kHandshakePending);
}

TEST_F(ServiceControlRequest, FailedOpenLogsBlockName) {
    fake.openHandle = RTS_INVALID_HANDLE;
    fake.openResult = RES_NO_OBJECT;
    ASSERT_EQ(SendServiceControlRequest(service_control::kCommandQuery, "svc", nullptr), RES_FAILED);
    ASSERT_EQ(LogEarlyBufferCount(), 1);
    LogEntry entry{};
    ASSERT_EQ(LogEarlyBufferGet(0, &entry), RES_OK);
    EXPECT_STREQ(entry.InfoText, "Shared memory (ServiceControl_Ombrelin) failed to open!");
    EXPECT_EQ(entry.CmpId, 0xFFFFu);
    EXPECT_EQ(entry.ClassId, LOG_ERROR);
    EXPECT_EQ(entry.ErrorId, 0u);
    EXPECT_EQ(entry.InfoId, 0u);
}

TEST_F(ServiceControlRequest, RefusesBadInputBeforeTouchingAnything) {
    const std::string longest(511, 'n');
    const std::string tooLong(512, 'n');
    EXPECT_EQ(SendServiceControlRequest(service_control::kCommandQuery, tooLong.c_str(), nullptr), RES_PARAMETER);
    EXPECT_EQ(SendServiceControlRequest(service_control::kCommandQuery, nullptr, nullptr), RES_PARAMETER);
    EXPECT_TRUE(fake.calls.empty());

    fake.allocFails = true;
    EXPECT_EQ(SendServiceControlRequest(service_control::kCommandQuery, "svc", nullptr), RES_NOMEMORY);
    EXPECT_EQ(fake.calls, Calls{"alloc"});

    fake = FakeChannel{};
    EXPECT_EQ(SendServiceControlRequest(service_control::kCommandQuery, longest.c_str(), nullptr), RES_OK);
    EXPECT_EQ(fake.nameAtFirstSleep, longest);
}

TEST_F(ServiceControlRequest, BlockNameFollowsCompanyString) {
    const std::string company(300, 'c');
    service_control::bind(company.c_str(), kMutex);
    EXPECT_EQ(SendServiceControlRequest(service_control::kCommandQuery, "svc", nullptr), RES_OK);
    EXPECT_EQ(fake.openedName, "ServiceControl_" + company);
}

} // namespace
