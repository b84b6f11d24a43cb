/* SendServiceControlRequest over the framework's real shared memory and process semaphore,
 * with a peer thread serving the block: answers arrive, a missing peer fails at the open, and
 * concurrent clients never see each other's requests. */
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cm.h"
#include "service_control.h"
#include "syssem.h"
#include "sysshm.h"

namespace {

using namespace std::chrono_literals;

/* The state a test peer answers with: a fingerprint of the name it read, so a client can
 * tell whether the answer belongs to its own request. */
RTS_UI32 fingerprint(const char* name) {
    RTS_UI32 h = 2166136261u;
    for (; *name != '\0'; ++name) h = (h ^ static_cast<unsigned char>(*name)) * 16777619u;
    return h;
}

/* Creates the block and answers every pending request, holding each one for a moment so
 * that an overlapping client would overwrite it. */
class TestPeer {
public:
    explicit TestPeer(const std::string& blockName) {
        RTS_SIZE size = service_control::kBlockSize;
        RTS_RESULT result = RES_FAILED;
        hShm_ = SysSharedMemoryCreate(blockName.c_str(), 0, &size, &result);
        block_ = static_cast<unsigned char*>(SysSharedMemoryGetPointer(hShm_, nullptr));
        if (block_ != nullptr) thread_ = std::thread([this] { serve(); });
    }
    ~TestPeer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        SysSharedMemoryDelete(hShm_);
    }
    bool ready() const { return block_ != nullptr; }
    int served() const { return served_; }
    int overlaps() const { return overlaps_; }

private:
    std::atomic_ref<RTS_UI32> word(RTS_SIZE offset) {
        return std::atomic_ref<RTS_UI32>(*reinterpret_cast<RTS_UI32*>(block_ + offset));
    }
    void serve() {
        using namespace service_control;
        while (!stop_) {
            if (word(kHandshakeOffset).load(std::memory_order_acquire) != kHandshakePending) {
                std::this_thread::sleep_for(1ms);
                continue;
            }
            char name[512];
            std::memcpy(name, block_ + kNameOffset, sizeof name);
            name[511] = '\0';
            std::this_thread::sleep_for(15ms);
            if (std::memcmp(name, block_ + kNameOffset, std::strlen(name) + 1) != 0) ++overlaps_;
            word(kResultOffset).store(RES_OK, std::memory_order_relaxed);
            word(kNameOffset).store(fingerprint(name), std::memory_order_relaxed);
            ++served_;
            word(kHandshakeOffset).store(kHandshakeAnswered, std::memory_order_release);
        }
    }

    RTS_HANDLE hShm_ = RTS_INVALID_HANDLE;
    unsigned char* block_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> served_{0};
    std::atomic<int> overlaps_{0};
};

class ServiceControlChannel : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CMInit2(nullptr, StaticComponentList, 1), RES_OK);
        company_ = "ChannelTest" + std::to_string(reinterpret_cast<RTS_UINTPTR>(this) & 0xFFFFFF);
        hMutex_ = SysSemProcessCreate(("ServiceControlMutex_" + company_).c_str(), nullptr);
        service_control::bind(company_.c_str(), hMutex_);
    }
    void TearDown() override {
        service_control::bind(nullptr, RTS_INVALID_HANDLE);
        SysSemProcessDelete(hMutex_);
        CMExit();
    }
    std::string block_name() const { return "ServiceControl_" + company_; }

    std::string company_;
    RTS_HANDLE hMutex_ = RTS_INVALID_HANDLE;
};

TEST_F(ServiceControlChannel, FailsAtOpenWithoutPeer) {
    RTS_UI32 state = 77;
    EXPECT_EQ(SendServiceControlRequest(service_control::kCommandQuery, "svc", &state), RES_FAILED);
    EXPECT_EQ(state, 77u);
}

TEST_F(ServiceControlChannel, LivePeerAnswersRequest) {
    TestPeer peer(block_name());
    ASSERT_TRUE(peer.ready());
    RTS_UI32 state = 0;
    EXPECT_EQ(SendServiceControlRequest(service_control::kCommandQuery, "KeLvAro Gateway V3", &state), RES_OK);
    EXPECT_EQ(state, fingerprint("KeLvAro Gateway V3"));
    EXPECT_EQ(peer.served(), 1);
}

TEST_F(ServiceControlChannel, ConcurrentClientsAreSerialised) {
    TestPeer peer(block_name());
    ASSERT_TRUE(peer.ready());
    constexpr int kClients = 3;
    constexpr int kRequestsEach = 4;
    std::atomic<int> wrongAnswers{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([c, &wrongAnswers] {
            const std::string name =
                "client-" + std::to_string(c) + std::string(static_cast<size_t>(c) * 40, 'x');
            for (int i = 0; i < kRequestsEach; ++i) {
                RTS_UI32 state = 0;
                if (SendServiceControlRequest(service_control::kCommandQuery, name.c_str(), &state) != RES_OK ||
                    state != fingerprint(name.c_str())) {
                    ++wrongAnswers;
                }
            }
        });
    }
    for (std::thread& t : clients) t.join();
    EXPECT_EQ(wrongAnswers, 0);
    EXPECT_EQ(peer.overlaps(), 0);
    EXPECT_EQ(peer.served(), kClients * kRequestsEach);
}

} // namespace
