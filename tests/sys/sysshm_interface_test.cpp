// The shared-memory interface object that other components ask the manager for (class 272).
#include <gtest/gtest.h>

#include <string>

#include "cm.h"
#include "sysshm.h"

namespace {

class SysShmInterfaceObject : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CMInit2(nullptr, StaticComponentList, 1), RES_OK); }
    void TearDown() override { CMExit(); }
};

TEST_F(SysShmInterfaceObject, AnswersItsTableAndItselfAndCountsReferences) {
    auto* object = static_cast<SysShmObject*>(CMCreateInstance(SYSSHM_CLASS_ID));
    ASSERT_NE(object, nullptr);
    RTS_RESULT r = RES_FAILED;
    auto* itf = static_cast<SysShmInterface*>(object->QueryInterface(object, SYSSHM_INTERFACE_ID, &r));
    ASSERT_EQ(r, RES_OK);
    ASSERT_NE(itf, nullptr);
    EXPECT_EQ(object->QueryInterface(object, 0, &r), object);
    EXPECT_EQ(object->references, 2);
    EXPECT_EQ(object->QueryInterface(object, 99, &r), nullptr);
    EXPECT_EQ(r, RES_NOTSUPPORTED);
    EXPECT_EQ(object->references, 2);

    // The table reaches the real operations: create, write through one, read through another.
    const std::string name = "gc_itf_" + std::to_string(reinterpret_cast<RTS_UINTPTR>(object) & 0xFFFFFF);
    RTS_SIZE size = 32;
    RTS_HANDLE h = itf->create(name.c_str(), 0, &size, &r);
    ASSERT_EQ(r, RES_OK);
    const unsigned char text[] = "through the table";
    EXPECT_EQ(itf->write(h, 0, text, sizeof text, &r), sizeof text);
    unsigned char back[sizeof text] = {};
    EXPECT_EQ(itf->readByte(h, 0, back, sizeof back, &r), sizeof back);
    EXPECT_STREQ(reinterpret_cast<char*>(back), "through the table");
    EXPECT_EQ(static_cast<unsigned char*>(itf->getPointer(h, &r))[0], 't');
    EXPECT_EQ(itf->close(h), RES_OK);
    EXPECT_EQ(CMDeleteInstance2(SYSSHM_CLASS_ID, object), RES_OK);
}

TEST_F(SysShmInterfaceObject, OnlyItsOwnClassIsMade) {
    RTS_RESULT r;
    auto* rec = static_cast<ComponentRecord*>(CMGetComponentByName("SysShm", &r));
    ASSERT_EQ(r, RES_OK);
    ASSERT_NE(rec->createInstance, nullptr);
    EXPECT_EQ(rec->createInstance(SYSSHM_CLASS_ID + 1), nullptr);
}

} // namespace
