/* The Windows entry of GatewayControl.exe: splits the wide command line into words, converts
 * them to single-byte text and hands them to the shared program entry. */
#include <windows.h>

#include <shellapi.h>

#include "entry.h"

namespace {

std::string to_single_byte(const wchar_t* word) {
    const int size = WideCharToMultiByte(CP_ACP, 0, word, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, word, -1, text.data(), size, nullptr, nullptr);
    text.resize(static_cast<size_t>(size - 1));
    return text;
}

void split_command_line(entry::CommandLine& commandLine) {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr) {
        commandLine.splitFailed = true;
        return;
    }
    for (int i = 0; i < count; ++i) {
        commandLine.wideWords.emplace_back(reinterpret_cast<const char16_t*>(words[i]));
        commandLine.words.push_back(to_single_byte(words[i]));
    }
    LocalFree(words);
}

} // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow) {
    entry::CommandLine commandLine;
    commandLine.instance = hInstance;
    commandLine.textEmpty = lpCmdLine == nullptr || lpCmdLine[0] == '\0';
    if (!commandLine.textEmpty) split_command_line(commandLine);
    return entry::gateway_control_main(commandLine);
}
