// The lower-case process-semaphore wrappers, found by name the way control-language callers
// find them, carry arguments and results through their records.
#include <gtest/gtest.h>

#include <string>

#include "cm.h"
#include "syssem.h"

namespace {

template <typename P> void call(const char* name, P* params) {
    RTS_VOID_FCTPTR f = nullptr;
    ASSERT_EQ(CMGetAPI2(name, &f, CM_IMPORT_OPTIONAL, 0, 0), RES_OK) << name;
    reinterpret_cast<void (*)(P*)>(f)(params);
}

TEST(SysSemProcessWrappers, CreateEnterLeaveDeleteThroughRecords) {
    ASSERT_EQ(CMInit2(nullptr, StaticComponentList, 1), RES_OK);
    const std::string name = "gc_wrap_" + std::to_string(reinterpret_cast<RTS_UINTPTR>(&name) & 0xFFFFF);
    RTS_RESULT created = RES_FAILED;
    SemProcessCreateParams create{name.c_str(), &created, nullptr};
    call("syssemprocesscreate", &create);
    ASSERT_EQ(created, RES_OK);
    ASSERT_NE(create.result, RTS_INVALID_HANDLE);

    SemProcessEnterParams enter{create.result, 0, 99};
    call("syssemprocessenter", &enter);
    EXPECT_EQ(enter.result, RES_OK);
    SemProcessHandleParams leave{create.result, 99};
    call("syssemprocessleave", &leave);
    EXPECT_EQ(leave.result, RES_OK);
    SemProcessHandleParams remove{create.result, 99};
    call("syssemprocessdelete", &remove);
    EXPECT_EQ(remove.result, RES_OK);

    SemProcessEnterParams invalid{RTS_INVALID_HANDLE, 0, 99};
    call("syssemprocessenter", &invalid);
    EXPECT_EQ(invalid.result, RES_PARAMETER);
    CMExit();
}

} // namespace
