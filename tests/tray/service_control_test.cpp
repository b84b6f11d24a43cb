/* SendServiceControlRequest against a scripted block: the peer's answer is played from the
 * fake sleep, so every step of the exchange (open, write, poll, answer, close, semaphore) is
 * checked without a second process. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_reader.h"
#include "service_control.h"

namespace {

using namespace service_control;
using Calls = std::vector<std::string>;

RTS_HANDLE const kMutex = reinterpret_cast<RTS_HANDLE>(0x5E7A);
RTS_HANDLE const kShm = reinterpret_cast<RTS_HANDLE>(0x5A7E);
constexpr RTS_UI32 kUntouched = 0xDEADBEEF;
constexpr RTS_UI32 kNoService = ERROR_SERVICE_DOES_NOT_EXIST;

/* What the scripted peer does: the results of the open and of the pointer, the sleep on which
 * it answers (0: never) and the result word it answers with. */
struct Script {
    RTS_HANDLE openHandle = kShm;
    RTS_RESULT openResult = RES_OK;
    RTS_RESULT pointerResult = RES_OK;
    RTS_UI32 answerOnSleep = 1;
    RTS_UI32 peerResult = RES_OK;
};

/* The scripted peer and the record of the calls the request made: the open with the name and
 * size asked for, the first sleep with handshake, command and name as the peer then sees them
 * (later sleeps are only counted), and "wrong ..." for a call with unexpected arguments. */
struct FakeChannel {
    alignas(8) unsigned char block[kBlockSize] = {};
    Script script;
    bool allocFails = false;
    RTS_UI32 peerState = 0;
    Calls calls;
    RTS_UI32 sleeps = 0;

    RTS_UI32 word(RTS_SIZE offset) { return block_word(block, offset).load(); }
    RTS_RESULT note(const std::string& call) { return calls.push_back(call), RES_OK; }
};

FakeChannel* g_fake = nullptr;

void fake_sleep(RTS_UI32 ms) {
    FakeChannel& f = *g_fake;
    if (++f.sleeps == 1)
        f.note("sleep " + std::to_string(f.word(kHandshakeOffset)) + " " +
               std::to_string(f.word(kCommandOffset)) + " " +
               reinterpret_cast<const char*>(f.block + kNameOffset));
    if (ms != kPollMs) f.note("wrong sleep");
    if (f.sleeps == f.script.answerOnSleep) {
        block_word(f.block, kResultOffset).store(f.script.peerResult);
        block_word(f.block, kNameOffset).store(f.peerState);
        block_word(f.block, kHandshakeOffset).store(kHandshakeAnswered);
    }
}

const Ops kFakeOps = {
    [](const char*, RTS_SIZE size, RTS_RESULT*) {
        g_fake->note("alloc");
        return g_fake->allocFails ? nullptr : ::operator new(size);
    },
    [](const char*, void* address) { return ::operator delete(address), g_fake->note("free"); },
    [](RTS_HANDLE h, RTS_UI32 timeout) {
        return g_fake->note(h == kMutex && timeout == ~0u ? "enter" : "wrong");
    },
    [](RTS_HANDLE h) { return g_fake->note(h == kMutex ? "leave" : "wrong leave"); },
    [](const char* name, RTS_UINTPTR physical, RTS_SIZE* pSize, RTS_RESULT* pResult) {
        g_fake->note(physical == 0 ? "open " + std::string(name) + " " + std::to_string(*pSize)
                                   : "wrong open");
        *pResult = g_fake->script.openResult;
        return g_fake->script.openHandle;
    },
    [](RTS_HANDLE h) { return g_fake->note(h == g_fake->script.openHandle ? "close" : "wrong close"); },
    [](RTS_HANDLE h, RTS_RESULT* pResult) {
        g_fake->note(h == kShm ? "pointer" : "wrong pointer");
        *pResult = g_fake->script.pointerResult;
        return static_cast<void*>(g_fake->block);
    },
    fake_sleep,
};

class ServiceControlRequest : public ::testing::Test {
protected:
    void SetUp() override {
        g_fake = &fake;
        set_ops(&kFakeOps);
        bind("Ombrelin", kMutex);
        testlog::clear();
    }
    void TearDown() override {
        set_ops(nullptr);
        bind(nullptr, RTS_INVALID_HANDLE);
        g_fake = nullptr;
    }
    FakeChannel fake;
};

const std::string kBlock = "ServiceControl_Ombrelin";
const std::string kOpen = "open " + kBlock + " 524";
const std::string kFirstSleep = "sleep 1 3 KeLvAro Gateway V3";
const Calls kAnsweredCalls = {"alloc", "enter", kOpen, "free", "pointer", kFirstSleep, "close", "leave"};
const Calls kOpenFailedCalls = {"alloc", "enter", kOpen, "close", "free", "leave"};

TEST_F(ServiceControlRequest, AnswersAndFailuresGiveResultAndState) {
    struct Case {
        const char* what;
        Script script;
        RTS_RESULT expectedResult;
        bool stateCopied;
        RTS_UI32 expectedSleeps;
    };
    const Case cases[] = {
        {"answered", {kShm, RES_OK, RES_OK, 1, 0}, RES_OK, true, 1},
        {"answered after a few polls", {kShm, RES_OK, RES_OK, 7, 0}, RES_OK, true, 7},
        {"answered on the last allowed read", {kShm, RES_OK, RES_OK, 500, 0}, RES_OK, true, 500},
        {"peer silent", {kShm, RES_OK, RES_OK, 0, 0}, RES_FAILED, false, 501},
        {"peer reports failure", {kShm, RES_OK, RES_OK, 2, kNoService}, kNoService, false, 2},
        {"pointer reports failure", {kShm, RES_OK, RES_PARAMETER, 1, 0}, RES_PARAMETER, false, 1},
        {"no peer", {RTS_INVALID_HANDLE, RES_NO_OBJECT, RES_OK, 1, 0}, RES_FAILED, false, 0},
        {"opened but not locked", {kShm, RES_NOT_LOCKED, RES_OK, 1, 0}, RES_FAILED, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake = FakeChannel{};
        fake.script = c.script;
        fake.peerState = 100 + c.script.answerOnSleep;
        testlog::clear();
        RTS_UI32 state = kUntouched;

        EXPECT_EQ(SendServiceControlRequest(kCommandQuery, "KeLvAro Gateway V3", &state), c.expectedResult);
        EXPECT_EQ(state, c.stateCopied ? fake.peerState : kUntouched);
        EXPECT_EQ(fake.sleeps, c.expectedSleeps);
        const bool opened = c.expectedSleeps > 0;
        EXPECT_EQ(fake.calls, opened ? kAnsweredCalls : kOpenFailedCalls);
        /* a silent peer leaves the request pending */
        const RTS_UI32 handshake = c.script.answerOnSleep == 0 ? kHandshakePending : kHandshakeAnswered;
        EXPECT_EQ(fake.word(kHandshakeOffset), opened ? handshake : 0u);
        /* the program's own entry: component 0xFFFF, an error, ids 0 */
        Calls logged;
        for (const LogEntry& e : testlog::entries())
            logged.push_back(std::to_string(e.CmpId) + " " + std::to_string(e.ClassId) + " " +
                             std::to_string(e.ErrorId) + " " + std::to_string(e.InfoId) + " " + e.InfoText);
        EXPECT_EQ(logged,
                  opened ? Calls{} : Calls{"65535 4 0 0 Shared memory (" + kBlock + ") failed to open!"});
    }
}

TEST_F(ServiceControlRequest, RefusesBadInputBeforeTouchingAnything) {
    const std::string longest(511, 'n');
    const std::string tooLong(512, 'n');
    EXPECT_EQ(SendServiceControlRequest(kCommandQuery, tooLong.c_str(), nullptr), RES_PARAMETER);
    EXPECT_EQ(SendServiceControlRequest(kCommandQuery, nullptr, nullptr), RES_PARAMETER);
    EXPECT_TRUE(fake.calls.empty());

    fake.allocFails = true;
    EXPECT_EQ(SendServiceControlRequest(kCommandQuery, "svc", nullptr), RES_NOMEMORY);
    EXPECT_EQ(fake.calls, Calls{"alloc"});

    fake = FakeChannel{};
    EXPECT_EQ(SendServiceControlRequest(kCommandQuery, longest.c_str(), nullptr), RES_OK);
    EXPECT_EQ(fake.calls.at(5), "sleep 1 3 " + longest);
}

TEST_F(ServiceControlRequest, BlockNameFollowsCompanyString) {
    const std::string company(300, 'c');
    bind(company.c_str(), kMutex);
    EXPECT_EQ(SendServiceControlRequest(kCommandQuery, "svc", nullptr), RES_OK);
    EXPECT_EQ(fake.calls.at(2), "open ServiceControl_" + company + " 524");
}

} // namespace
