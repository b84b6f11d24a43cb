// A fixture that starts the framework with our collaborators beside the program's components,
// on a configuration file of the test's own in the temporary directory, so that the settings a
// test writes are kept as the program keeps them; the file goes when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "collaborators.h"
#include "log_reader.h"

namespace shelltest {

class CollabFramework : public ::testing::Test {
protected:
    void SetUp() override {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        cfg_ = (std::filesystem::temp_directory_path() / ("gc_shell_" + std::to_string(stamp) + ".cfg"))
                   .string();
        std::ofstream(cfg_, std::ios::binary) << "[CmpSettings]\r\n";
        collab::reset_rights();
        collab::reset_listeners();
        ASSERT_EQ(CMInit2(cfg_.c_str(), list_.data(), 1), RES_OK);
        testlog::clear();
    }
    void TearDown() override {
        CMExit();
        collab::reset_listeners();
        std::filesystem::remove(cfg_);
        std::filesystem::remove(cfg_.substr(0, cfg_.size() - 1) + "_");
    }
    std::vector<StaticComponent> list_ = collab::component_list();
    std::string cfg_;
};

} // namespace shelltest
