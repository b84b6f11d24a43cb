// The scratch configuration file: one section header, since an empty file counts as missing. Its
// database is released as the settings release theirs at the system's end, whether or not a
// framework ran around it.
#include "scratch_settings.h"

#include <filesystem>
#include <fstream>

#include "cm.h"
#include "cmpsettings.h"
#include "ipc_support.h"

extern "C" RTS_RESULT CmpSettings__Entry(ComponentInitRecord* pInit);

namespace testfw {

ScratchSettings::ScratchSettings()
    : path_((std::filesystem::temp_directory_path() / (ipctest::unique_name("gc_settings_") + ".cfg"))
                .string()) {
    std::ofstream(path_, std::ios::binary) << "[CmpSettings]\r\n";
    SettgSetDatabaseName(path_.c_str());
}

ScratchSettings::~ScratchSettings() {
    ComponentInitRecord settings{};
    if (CmpSettings__Entry(&settings) == RES_OK) settings.hookFunction(CH_EXIT_SYSTEM, 0, 0);
    std::filesystem::remove(path_);
    std::filesystem::remove(path_.substr(0, path_.size() - 1) + "_");
}

} // namespace testfw
