/* The POSIX entry of gatewaycontrol: the arguments are the words (UTF-8), handed to the
 * shared program entry together with their 16-bit form. */
#include "entry.h"

namespace {

/* UTF-8 to UTF-16; a byte that does not start a valid sequence becomes U+FFFD. */
std::u16string to_utf16(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80           ? 1
                           : (lead >> 5) == 0x6  ? 2
                           : (lead >> 4) == 0xE  ? 3
                           : (lead >> 3) == 0x1E ? 4
                                                 : 0;
        char32_t cp = length == 1   ? lead
                      : length == 2 ? lead & 0x1Fu
                      : length == 3 ? lead & 0x0Fu
                                    : lead & 0x07u;
        bool valid = length != 0 && i + static_cast<size_t>(length) <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
            valid = (next & 0xC0u) == 0x80u;
            cp = (cp << 6) | (next & 0x3Fu);
        }
        if (!valid || cp > 0x10FFFF) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += static_cast<size_t>(length);
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    entry::CommandLine commandLine;
    commandLine.textEmpty = argc < 2;
    for (int i = 0; i < argc; ++i) {
        commandLine.words.emplace_back(argv[i]);
        commandLine.wideWords.push_back(to_utf16(commandLine.words.back()));
    }
    return entry::gateway_control_main(commandLine);
}
