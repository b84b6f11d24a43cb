// A test fixture that starts the framework with the program's own component list, as the
// program does, for each test, and stops it afterwards; the log starts empty and the settings
// are kept in a scratch configuration file.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "cm.h"
#include "cmplog.h"
#include "log_reader.h"
#include "scratch_settings.h"

namespace testfw {

class Framework : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CMInit2(nullptr, StaticComponentList, 1), RES_OK);
        settings_ = std::make_unique<ScratchSettings>();
        testlog::clear();
    }
    void TearDown() override {
        CMExit();
        settings_.reset();
    }

private:
    std::unique_ptr<ScratchSettings> settings_;
};

} // namespace testfw
