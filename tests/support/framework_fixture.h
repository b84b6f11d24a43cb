// A test fixture that starts the framework with the program's own component list, as the
// program does, for each test, and stops it afterwards; the log starts empty.
#pragma once

#include <gtest/gtest.h>

#include "cm.h"
#include "cmplog.h"
#include "log_reader.h"

namespace testfw {

class Framework : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CMInit2(nullptr, StaticComponentList, 1), RES_OK);
        testlog::clear();
    }
    void TearDown() override { CMExit(); }
};

} // namespace testfw
