// rtsshell: the framework with our command shell, server, tag codec and user management beside
// the program's own components. Each line read from standard input is run as a shell command
// and its answer printed; "exit" or the end of the input shuts the framework down.
#include <iostream>
#include <string>

#include "collaborators.h"

int main() {
    std::vector<StaticComponent> list = collab::component_list();
    if (CMInit2(nullptr, list.data(), 1) != RES_OK) {
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
