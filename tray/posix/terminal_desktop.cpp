/* The terminal desktop: the POSIX stand-in for the Windows desktop, which makes gatewaycontrol
 * without arguments a status monitor and control in a terminal.
 * - The icon is its tooltip: a line on standard output each time the icon is added or changed.
 * - Each line of standard input is a click on the icon and a choice in its menu: a word (start,
 *   stop, edge, about, exit) or the item's command id; an empty line dismisses the menu, and a
 *   greyed item chooses nothing.
 * - Message boxes print "<caption>: <text>" on standard error; a box with a choice then reads
 *   the answer (ok or cancel, yes or no); end of input answers Cancel or No.
 * - Dialogs close as soon as they are shown, as if OK was pressed: the About dialog leaves its
 *   strip's text on standard output, the second-instance warning its text on standard error.
 * - The single-instance marker is a lock on a file named after the window class in the user's
 *   runtime directory, held until the process ends.
 * - The message loop waits for input with a time-out that keeps the timer's period, delivers
 *   each line before the next timer tick, and ends when the window is closed or the input ends.
 * - There is no registry, so the edge mode never finds the gateway's service entry: it shows its
 *   first failure and the manual instructions. Private-profile files are INI text read and
 *   changed line by line (names compared without regard to case, a new key at the end of its
 *   section, a new section at the end of the file), which makes the maintenance run real. The
 *   environment is the process's (text is not expanded); errors are errno values with their
 *   strerror text; there is no 32-bit emulation and no elevated launch (the shell refuses with
 *   ENOSYS). */
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cmutils.h"

#include "desktop.h"
#include "resources/strings.h"

namespace desktop {

namespace {

/* What the platform answers for a resource that does not exist. */
constexpr RTS_UI32 kResourceNameNotFound = 1814;
constexpr int kWaitForever = -1;
constexpr RTS_SIZE kReadChunk = 256;

struct TableEntry {
    RTS_UI32 id;
    const char* text;
};

constexpr TableEntry kStringTable[] = {
    {IDS_EXIT_CONFIRM, STR_EXIT_CONFIRM},
    {IDS_APP_TITLE, STR_APP_TITLE},
    {IDS_COMPANY, STR_COMPANY},
    {IDS_SERVICE_NAME, STR_SERVICE_NAME},
    {IDS_MAIN_WINDOW_CLASS, STR_MAIN_WINDOW_CLASS},
    {IDS_EDGE_CONFIRM_CAPTION, STR_EDGE_CONFIRM_CAPTION},
    {IDS_EDGE_CONFIRM_TEXT, STR_EDGE_CONFIRM_TEXT},
    {IDS_EDGE_MANUAL_CAPTION, STR_EDGE_MANUAL_CAPTION},
    {IDS_EDGE_MANUAL_MIDDLE, STR_EDGE_MANUAL_MIDDLE},
    {IDS_EDGE_MANUAL_FIRST, STR_EDGE_MANUAL_FIRST},
    {IDS_EDGE_MANUAL_LAST, STR_EDGE_MANUAL_LAST},
};

constexpr RTS_UI32 kIcons[] = {IDI_RUNNING, IDI_STOPPED, IDI_TRAY_SYMBOL};

/* The tray menu's items by the word that chooses them on a line. */
struct MenuItem {
    const char* word;
    RTS_UI32 command;
    const char* text;
};
constexpr MenuItem kMenuItems[] = {
    {"start", IDM_START, STR_MENU_START}, {"stop", IDM_STOP, STR_MENU_STOP},
    {"edge", IDM_EDGE, STR_MENU_EDGE},    {"about", IDM_ABOUT, STR_MENU_ABOUT},
    {"exit", IDM_EXIT, STR_MENU_EXIT},
};
constexpr char kMenuHelp[] =
    "start, stop, edge, about or exit (or the item's id); an empty line closes the menu";

/* The answers a box with a choice accepts, by their words or first letters. */
struct Choice {
    const char* prompt;
    const char* yesWord;
    const char* noWord;
    BoxAnswer yes;
    BoxAnswer no;
};
constexpr Choice kOkCancel = {"OK or Cancel?", "ok", "cancel", BoxAnswer::Ok, BoxAnswer::Cancel};
constexpr Choice kYesNo = {"Yes or No?", "yes", "no", BoxAnswer::Yes, BoxAnswer::No};

/* The line with blanks removed at both ends and A to Z in lower case. */
std::string normalised(const std::string& line) {
    const RTS_SIZE first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    std::string word = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
    for (char& c : word)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return word;
}

/* The menu item a word or id names; null for anything else. */
const MenuItem* find_item(const std::string& word) {
    for (const MenuItem& item : kMenuItems) {
        if (word == item.word || word == std::to_string(item.command)) return &item;
    }
    return nullptr;
}

/* Standard input line by line, each read waiting at most a given time. */
class LineReader {
public:
    enum class Result { Line, Nothing, End };

    Result next(std::string& line, int timeoutMs) {
        for (;;) {
            const RTS_SIZE end = buffer_.find('\n');
            if (end != std::string::npos || (ended_ && !buffer_.empty())) {
                line = buffer_.substr(0, end);
                buffer_.erase(0, end == std::string::npos ? end : end + 1);
                return Result::Line;
            }
            if (ended_) return Result::End;
            pollfd input{STDIN_FILENO, POLLIN, 0};
            const int ready = poll(&input, 1, timeoutMs);
            if (ready < 0 && errno == EINTR) continue;
            if (ready == 0) return Result::Nothing;
            char chunk[kReadChunk];
            const ssize_t n = ready < 0 ? -1 : read(STDIN_FILENO, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) ended_ = true;
            if (n > 0) buffer_.append(chunk, static_cast<RTS_SIZE>(n));
        }
    }

private:
    std::string buffer_;
    bool ended_ = false;
};

void print_line(std::FILE* stream, const char* text, int length = -1) {
    if (length < 0)
        std::fprintf(stream, "%s\n", text);
    else
        std::fprintf(stream, "%.*s\n", length, text);
    std::fflush(stream);
}

/* ---- private-profile files ------------------------------------------------------------------ */

std::string_view trimmed(std::string_view text) {
    const RTS_SIZE first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") + 1 - first);
}

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CMUtlStrNICmp(a.data(), b.data(), a.size()) == 0;
}

/* Where a key is in the lines of a profile: the line of its section header, the line after the
 * section's last non-blank line, and its own line (npos for what is missing). */
struct Place {
    RTS_SIZE section = std::string::npos;
    RTS_SIZE end = 0;
    RTS_SIZE key = std::string::npos;
};

Place find_key(const std::vector<std::string>& lines, std::string_view section, std::string_view key) {
    Place place;
    for (RTS_SIZE i = 0; i < lines.size(); ++i) {
        const std::string_view line = trimmed(lines[i]);
        if (!line.empty() && line.front() == '[') {
            if (place.section != std::string::npos) break;
            if (same_name(line.substr(1, line.find(']') - 1), section)) place = {i, i + 1};
            continue;
        }
        if (place.section == std::string::npos || line.empty()) continue;
        place.end = i + 1;
        const RTS_SIZE equals = line.find('=');
        if (equals != std::string_view::npos && same_name(trimmed(line.substr(0, equals)), key)) {
            place.key = i;
            break;
        }
    }
    return place;
}

/* The lines of file into lines (none when it does not exist); the errno when it exists but
 * cannot be read, so that a write never replaces what it could not see. */
int read_lines(const char* file, std::vector<std::string>& lines) {
    std::FILE* in = std::fopen(file, "r");
    if (in == nullptr) return errno == ENOENT ? 0 : errno;
    char* line = nullptr;
    size_t capacity = 0;
    for (ssize_t n; (n = getline(&line, &capacity, in)) >= 0;)
        lines.emplace_back(line, n > 0 && line[n - 1] == '\n' ? n - 1 : n);
    std::free(line);
    std::fclose(in);
    return 0;
}

std::string utf8(const RTS_WCHAR* text) {
    std::string out(4 * CMUtlwstrlen(text) + 1, '\0');
    if (CMUtlWToUtf8(text, CMUtlwstrlen(text), out.data(), out.size()) != RES_OK) return {};
    return out.c_str();
}

class TerminalDesktop final : public Desktop {
public:
    int load_string(RTS_HANDLE instance, RTS_UI32 id, char* buffer, int size) override {
        if (buffer == nullptr || size <= 0) return 0;
        buffer[0] = '\0';
        for (const TableEntry& entry : kStringTable) {
            if (entry.id != id) continue;
            int n = 0;
            for (; n + 1 < size && entry.text[n] != '\0'; ++n) buffer[n] = entry.text[n];
            buffer[n] = '\0';
            return n;
        }
        return 0;
    }

    RTS_HANDLE load_icon(RTS_HANDLE instance, RTS_UI32 id, RTS_UI32* error) override {
        for (RTS_UI32 icon : kIcons) {
            if (icon == id) return reinterpret_cast<RTS_HANDLE>(static_cast<RTS_UINTPTR>(id));
        }
        if (error != nullptr) *error = kResourceNameNotFound;
        return nullptr;
    }

    bool notify_icon(IconAction action, const IconRecord& record) override {
        switch (action) {
            case IconAction::Add:
            case IconAction::Modify:
                if ((record.flags & kIconFlagMessage) != 0) icon_ = record;
                if ((record.flags & kIconFlagTip) != 0)
                    print_line(stdout, record.tip, static_cast<int>(strnlen(record.tip, kIconTipSize)));
                return true;
            case IconAction::Delete:
                icon_ = IconRecord{};
                return true;
        }
        return false;
    }

    BoxAnswer message_box(const char* text, const char* caption, BoxIcon icon, BoxButtons buttons) override {
        std::fprintf(stderr, "%s: %s\n", caption, text);
        std::fflush(stderr);
        if (buttons == BoxButtons::Ok) return BoxAnswer::Ok;
        const Choice& choice = buttons == BoxButtons::OkCancel ? kOkCancel : kYesNo;
        for (;;) {
            print_line(stderr, choice.prompt);
            std::string line;
            if (input_.next(line, kWaitForever) != LineReader::Result::Line) return choice.no;
            const std::string answer = normalised(line);
            if (!answer.empty() && std::strncmp(choice.yesWord, answer.c_str(), answer.size()) == 0)
                return choice.yes;
            if (!answer.empty() && std::strncmp(choice.noWord, answer.c_str(), answer.size()) == 0)
                return choice.no;
        }
    }

    RTS_INTPTR dialog_box(RTS_HANDLE instance, RTS_UI32 templateId, Procedure procedure) override {
        if (templateId == IDD_SECOND_INSTANCE) {
            std::fprintf(stderr, "%s: %s\n", STR_SECOND_INSTANCE_CAPTION, STR_SECOND_INSTANCE_TEXT);
            std::fflush(stderr);
        }
        Dialog dialog;
        for (const Message& message : {Message{kMessageInitDialog, 0, 0}, Message{kMessagePaint, 0, 0},
                                       Message{kMessageCommand, kCommandOk, 0}}) {
            RTS_INTPTR ignored = 0;
            if (!dialog.ended) procedure(&dialog, message, ignored);
        }
        return dialog.result;
    }

    void end_dialog(RTS_HANDLE dialog, RTS_INTPTR result) override {
        auto* shown = static_cast<Dialog*>(dialog);
        shown->ended = true;
        shown->result = result;
    }

    Size item_size(RTS_HANDLE dialog, RTS_UI32 itemId) override {
        if (itemId == IDC_ABOUT_PICTURE) return {ABOUT_PICTURE_WIDTH, ABOUT_PICTURE_HEIGHT};
        return {0, 0};
    }

    /* A terminal has no screen to place windows on. */
    Size screen_size() override { return {0, 0}; }
    void move_window(RTS_HANDLE window, const Placement& placement) override {}

    /* Text is the only thing a terminal paints; a character is one unit wide. */
    RTS_HANDLE begin_paint(RTS_HANDLE window) override { return window; }
    void white_rectangle(RTS_HANDLE canvas, const Rect& rect) override {}
    RTS_I32 text_width(RTS_HANDLE canvas, const char* text) override {
        return static_cast<RTS_I32>(std::strlen(text));
    }
    void text_out(RTS_HANDLE canvas, RTS_I32 x, RTS_I32 y, const char* text) override {
        print_line(stdout, text);
    }
    void end_paint(RTS_HANDLE window) override {}

    /* Without a service manager the service's key name stands for its display name. */
    void service_display_name(const char* serviceName, char* buffer, RTS_UI32 size) override {
        if (size > 0) std::snprintf(buffer, size, "%s", serviceName);
    }

    bool other_instance_running(const char* windowClass) override {
        const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
        const std::string path =
            runtimeDir != nullptr && *runtimeDir != '\0'
                ? std::string(runtimeDir) + "/" + windowClass + ".lock"
                : "/tmp/" + std::string(windowClass) + "-" + std::to_string(getuid()) + ".lock";
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return false; /* no marker to be had: run as the only instance */
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return false; /* ours until the process ends */
        const bool held = errno == EWOULDBLOCK;
        close(fd);
        return held;
    }

    RTS_HANDLE create_main_window(RTS_HANDLE instance, const char* windowClass,
                                  Procedure procedure) override {
        procedure_ = procedure;
        closed_ = false;
        return this;
    }

    /* Nothing sends registered messages here. */
    RTS_UI32 register_message(const char* name) override { return 0; }

    bool set_timer(RTS_HANDLE window, RTS_UI32 id, RTS_UI32 periodMs) override {
        timerId_ = id;
        timerPeriodMs_ = periodMs;
        timerDue_ = tick_ms() + periodMs;
        return true;
    }

    void run_message_loop(RTS_HANDLE window) override {
        while (!closed_) {
            std::string line;
            const LineReader::Result read = input_.next(line, timer_wait_ms());
            if (read == LineReader::Result::End) break;
            if (read == LineReader::Result::Line) click(normalised(line));
            if (!closed_ && timerPeriodMs_ != 0 && timer_wait_ms() == 0) {
                deliver({kMessageTimer, timerId_, 0});
                timerDue_ = tick_ms() + timerPeriodMs_;
            }
        }
    }

    void post_close(RTS_HANDLE window) override { closed_ = true; }

    Point cursor_position() override { return {0, 0}; }

    RTS_HANDLE load_menu(RTS_HANDLE instance, RTS_UI32 id) override {
        if (id != IDR_TRAY_MENU) return nullptr;
        greyed_ = {};
        return &greyed_;
    }

    void enable_menu_item(RTS_HANDLE menu, RTS_UI32 item, bool enabled) override {
        for (RTS_SIZE i = 0; menu != nullptr && i < greyed_.size(); ++i) {
            if (kMenuItems[i].command == item) greyed_[i] = !enabled;
        }
    }

    void set_foreground(RTS_HANDLE window) override {}

    RTS_UI32 track_popup_menu(RTS_HANDLE menu, Point at, RTS_HANDLE window) override {
        for (RTS_SIZE i = 0; menu != nullptr && i < greyed_.size(); ++i) {
            if (&kMenuItems[i] != chosen_) continue;
            if (!greyed_[i]) return chosen_->command;
            std::fprintf(stderr, "%s is greyed\n", chosen_->text);
            std::fflush(stderr);
        }
        return 0;
    }

    void destroy_menu(RTS_HANDLE menu) override {}

    RegistryRead machine_registry_string(const char* key, const char* value, char* buffer,
                                         RTS_UI32 size) override {
        return RegistryRead::NoKey;
    }

    RTS_UI32 profile_string(const char* file, const char* section, const char* key, char* buffer,
                            RTS_UI32 size) override {
        if (size == 0) return 0;
        std::vector<std::string> lines;
        read_lines(file, lines);
        const Place place = find_key(lines, section, key);
        std::string_view value;
        if (place.key != std::string::npos) {
            const std::string_view line = lines[place.key];
            value = trimmed(line.substr(line.find('=') + 1));
        }
        const RTS_SIZE length = std::min<RTS_SIZE>(value.size(), size - 1);
        std::memcpy(buffer, value.data(), length);
        buffer[length] = '\0';
        return static_cast<RTS_UI32>(length);
    }

    RTS_UI32 write_profile_string(const RTS_WCHAR* file, const RTS_WCHAR* section, const RTS_WCHAR* key,
                                  const RTS_WCHAR* value) override {
        const std::string path = utf8(file), sectionName = utf8(section), keyName = utf8(key);
        std::vector<std::string> lines;
        if (const int error = read_lines(path.c_str(), lines); error != 0)
            return static_cast<RTS_UI32>(error);
        const Place place = find_key(lines, sectionName, keyName);
        const std::string entry = keyName + "=" + utf8(value);
        if (place.key != std::string::npos)
            lines[place.key] = entry;
        else if (place.section != std::string::npos)
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(place.end), entry);
        else
            lines.insert(lines.end(), {"[" + sectionName + "]", entry});
        std::FILE* out = std::fopen(path.c_str(), "w");
        if (out == nullptr) return static_cast<RTS_UI32>(errno);
        for (const std::string& line : lines) std::fprintf(out, "%s\n", line.c_str());
        return std::fclose(out) == 0 ? 0 : static_cast<RTS_UI32>(errno);
    }

    Lookup environment_variable(const char* name, char* buffer, RTS_UI32 size) override {
        const char* value = std::getenv(name);
        if (value == nullptr) return Lookup::Missing;
        if (CMUtlSafeStrCpy(buffer, size, value) == RES_OK) return Lookup::Found;
        if (size > 0) buffer[0] = '\0';
        return Lookup::TooLong;
    }

    /* No folder here is named through variables: the text stays as it is. */
    bool expand_environment(const char* text, char* buffer, RTS_UI32 size) override {
        return CMUtlSafeStrCpy(buffer, size, text) == RES_OK;
    }

    bool is_wow64_process(bool& emulated) override {
        emulated = false;
        return true;
    }

    bool module_file_name(char* buffer, RTS_UI32 size, RTS_UI32& error) override {
        const ssize_t length = size > 0 ? readlink("/proc/self/exe", buffer, size) : -1;
        error = length < 0 ? static_cast<RTS_UI32>(errno) : ENAMETOOLONG;
        if (length < 0 || static_cast<RTS_UI32>(length) >= size) return false;
        buffer[length] = '\0';
        return true;
    }

    void error_text(RTS_UI32 error, char* buffer, RTS_UI32 size) override {
        if (size > 0) std::snprintf(buffer, size, "%s", std::strerror(static_cast<int>(error)));
    }

    RTS_INTPTR shell_execute(const char* verb, const char* file, const char* parameters,
                             RTS_UI32& error) override {
        error = ENOSYS;
        return 0;
    }

    void sleep(RTS_UI32 ms) override { sleep_ms(ms); }

private:
    struct Dialog {
        bool ended = false;
        RTS_INTPTR result = 0;
    };

    int timer_wait_ms() const {
        if (timerPeriodMs_ == 0) return kWaitForever;
        const auto left = static_cast<RTS_I32>(timerDue_ - tick_ms());
        return left > 0 ? left : 0;
    }

    void deliver(const Message& message) {
        RTS_INTPTR ignored = 0;
        if (procedure_ != nullptr) procedure_(this, message, ignored);
    }

    /* A line: the icon is clicked and its menu answers with the item the line names. */
    void click(const std::string& word) {
        chosen_ = find_item(word);
        if (chosen_ == nullptr && !word.empty()) {
            std::fprintf(stderr, "unknown command \"%s\": %s\n", word.c_str(), kMenuHelp);
            std::fflush(stderr);
            return;
        }
        if (icon_.callbackMessage != 0)
            deliver({icon_.callbackMessage, icon_.id, static_cast<RTS_INTPTR>(kMessageLeftButtonUp)});
        chosen_ = nullptr;
    }

    LineReader input_;
    Procedure procedure_ = nullptr;
    bool closed_ = false;
    IconRecord icon_;
    RTS_UI32 timerId_ = 0;
    RTS_UI32 timerPeriodMs_ = 0;
    RTS_UI32 timerDue_ = 0;
    std::array<bool, std::size(kMenuItems)> greyed_ = {};
    const MenuItem* chosen_ = nullptr;
};

} // namespace

Desktop& platform() {
    static TerminalDesktop terminal;
    return terminal;
}

} // namespace desktop
