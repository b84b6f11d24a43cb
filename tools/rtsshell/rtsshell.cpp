// rtsshell: the framework with our command shell, server, tag codec and user management beside
// the program's own components. Each line read from standard input is run as a shell command
// and its answer printed; "exit" or the end of the input shuts the framework down. The settings
// live in the configuration file named on the command line (default "rtsshell.cfg" in the
// working directory), which is made empty when it does not exist yet.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "collaborators.h"

int main(int argc, char** argv) {
    const std::string config = argc > 1 ? argv[1] : "rtsshell.cfg";
    if (!std::filesystem::exists(config)) std::ofstream(config, std::ios::binary) << "[CmpSettings]\r\n";
    std::vector<StaticComponent> list = collab::component_list();
    if (CMInit2(config.c_str(), list.data(), 1) != RES_OK) {
        std::cerr << "rtsshell: the framework did not start\n";
        return 1;
    }
    std::string line;
    while (std::getline(std::cin, line) && line != "exit") {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) std::cout << collab::shell_run(line) << std::flush;
    }
    CMExit();
    return 0;
}
