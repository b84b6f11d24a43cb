/* The program entry shared by both platforms: the choice between tray mode, console mode and
 * the maintenance run, the program strings, and start-up and shut-down of the framework. */
#ifndef ENTRY_H
#define ENTRY_H

#include <string>
#include <vector>

#include "rts_types.h"

namespace entry {

/* Program strings are loaded into buffers of this size (terminating zero included). */
constexpr int kStringSize = 259;

struct ProgramStrings {
    char title[kStringSize];       /* caption of message boxes, start of the tray tooltip */
    char company[kStringSize];     /* suffix of the service-control block name */
    char serviceName[kStringSize]; /* the gateway service's key name */
    char windowClass[kStringSize]; /* class of the hidden main window, single-instance marker */
};

/* Removes every double-quote character from text in place. */
void remove_double_quotes(char* text);

/* Loads the program strings from the string table of instance and removes their quotes. */
void load_program_strings(RTS_HANDLE instance, ProgramStrings& strings);

/* The command line as the platform entry hands it over: whether the text after the program
 * name is empty (tray mode), the words the runtime library split (word 0 is the program) for
 * the console, and the platform's 16-bit split for the maintenance check, which only a
 * non-empty text gets and which may fail. */
struct CommandLine {
    RTS_HANDLE instance = nullptr;
    bool textEmpty = true;
    bool splitFailed = false;
    std::vector<std::string> words;
    std::vector<std::u16string> wideWords;
};

/* True for exactly three words whose word 1 is exactly "maintenance". */
bool is_maintenance_run(const CommandLine& commandLine);

/* Runs the program for the command line and returns the process exit code. */
int gateway_control_main(const CommandLine& commandLine);

} // namespace entry

#endif
