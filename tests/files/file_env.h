// What the file tests share: the framework started for each test and a directory of its own,
// removed with everything in it afterwards, with helpers to put and get a file's bytes.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "framework_fixture.h"
#include "ipc_support.h"

namespace filetest {

class Dir : public testfw::Framework {
public:
    void SetUp() override {
        Framework::SetUp();
        dir_ = std::filesystem::temp_directory_path() / ipctest::unique_name("gc_files_");
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        std::filesystem::remove_all(dir_);
        Framework::TearDown();
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    void put(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    std::string get(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    bool exists(const std::string& name) const { return std::filesystem::exists(path(name)); }

    std::filesystem::path dir_;
};

} // namespace filetest
