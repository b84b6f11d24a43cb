// A configuration file of the test's own in the temporary directory, chosen as the settings'
// master file, so that settings written by a test are kept for the test as the program keeps
// them; the database is released and the file removed when the object goes.
#pragma once

#include <string>

namespace testfw {

class ScratchSettings {
public:
    ScratchSettings();
    ~ScratchSettings();
    ScratchSettings(const ScratchSettings&) = delete;
    ScratchSettings& operator=(const ScratchSettings&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace testfw
