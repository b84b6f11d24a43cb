/* The Windows entry of GatewayControl.exe: the command-line text after the program name decides
 * between tray and console; the console words are those the C runtime split (__argc/__argv,
 * single-byte text); the wide words of CommandLineToArgvW serve only the maintenance check. */
#include <windows.h>

#include <shellapi.h>
#include <stdlib.h>

#include "entry.h"

namespace {

bool is_blank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

/* The text after the program name. The name runs up to the first blank outside double quotes;
 * that one blank only separates (launchers often put it there with nothing behind it), every
 * further blank belongs to the text. So a line of blanks is a console run without words. */
const wchar_t* text_after_program_name(const wchar_t* line) {
    bool quoted = false;
    for (; *line != L'\0' && (quoted || !is_blank(*line)); ++line) {
        if (*line == L'"') quoted = !quoted;
    }
    return *line == L'\0' ? line : line + 1;
}

void split_wide_words(entry::CommandLine& commandLine) {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr) {
        commandLine.splitFailed = true;
        return;
    }
    for (int i = 0; i < count; ++i)
        commandLine.wideWords.emplace_back(reinterpret_cast<const char16_t*>(words[i]));
    LocalFree(words);
}

} // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow) {
    entry::CommandLine commandLine;
    commandLine.instance = hInstance;
    commandLine.textEmpty = *text_after_program_name(GetCommandLineW()) == L'\0';
    if (!commandLine.textEmpty) split_wide_words(commandLine);
    for (int i = 0; i < __argc; ++i) commandLine.words.emplace_back(__argv[i]);
    return entry::gateway_control_main(commandLine);
}
