// The configuration-file database: the search rules and edits on small texts, the opening rules,
// every value of a corpus of real-looking files rewritten with a byte diff as the judge, and a
// writer killed at random moments that never loses the file.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <random>
#include <sstream>
#include <thread>

#include "cmpinifile.h"
#include "file_env.h"
#include "sysfile.h"

namespace {

using Files = filetest::Dir;

// The value of key, or "#" and the result.
std::string read(RTS_HANDLE db, const char* section, const char* key) {
    char buffer[64];
    RTS_I32 length = sizeof buffer;
    const RTS_RESULT r = IniReadValue(db, section, key, buffer, &length);
    return r == RES_OK ? std::string(buffer, static_cast<size_t>(length)) : "#" + std::to_string(r);
}

// What the calls of a row told, in order: the clauses of a braced list are evaluated one after
// the other, the operands of + are not.
std::string cat(std::initializer_list<std::string> told) {
    std::string out;
    for (const std::string& t : told) out += t;
    return out;
}

std::string write(RTS_HANDLE db, const char* section, const char* key, const char* value) {
    return std::to_string(IniWriteValue(db, section, key, value, 0));
}

TEST_F(Files, SearchRulesAndEdits) {
    using Act = std::function<std::string(RTS_HANDLE)>;
    const struct Row {
        const char* label;
        const char* text;
        Act act;
        const char* told;  // what act tells
        const char* after; // the file afterwards (null: the text as it was)
    } rows[] = {
        {"LF file: new lines end with LF after a lookup", "[A]\nk=1\n",
         [](RTS_HANDLE db) {
             return cat({read(db, "A", "k"), write(db, "A", "n", "2")});
         },
         "10", "[A]\nk=1\nn=2\n"},
        {"CR LF file", "[A]\r\nk=1\r\n",
         [](RTS_HANDLE db) {
             return cat({read(db, "A", "k"), write(db, "A", "n", "2")});
         },
         "10", "[A]\r\nk=1\r\nn=2\r\n"},
        {"comments, blanks and quotes; later headers of a section",
         "; [A]\r\nk=0\r\n[A]\r\n ;k=1\r\nxk=2\r\n  K = \"abc\" ; note\r\n[B]\r\nj=0\r\n[A]\r\nj=2\r\n",
         [](RTS_HANDLE db) {
             return cat({read(db, "A", "k"), read(db, "a", "J")});
         },
         "abc2", nullptr},
        {"a value over quotes goes before the quote", "[A]\r\nk=\"old\"\r\n",
         [](RTS_HANDLE db) {
             return cat({write(db, "A", "k", "new"), read(db, "A", "k")});
         },
         "0new", "[A]\r\nk=new\"old\"\r\n"},
        {"a replacement keeps everything around the value", "[A]\r\nk = old ; c\r\nj=1\r\n",
         [](RTS_HANDLE db) { return write(db, "A", "k", "longer value"); }, "0",
         "[A]\r\nk =longer value ; c\r\nj=1\r\n"},
        {"a new key goes before the blank line", "[A]\r\nk=1\r\n\r\n[B]\r\n",
         [](RTS_HANDLE db) { return write(db, "A", "n", "2"); }, "0", "[A]\r\nk=1\r\nn=2\r\n\r\n[B]\r\n"},
        {"a new key in a last section without a line end", "[A]\r\nk=1",
         [](RTS_HANDLE db) { return write(db, "A", "n", "2"); }, "0", "[A]\r\nk=1\r\nn=2\r\n"},
        {"new sections after a text without a line end", "[A]\r\nk=1",
         [](RTS_HANDLE db) {
             return cat({write(db, "B", "x", "1"), write(db, "C", nullptr, nullptr)});
         },
         "00", "[A]\r\nk=1\r\n\r\n[B]\r\nx=1\r\n\r\n[C]\r\n"},
        {"removing the last key line without a line end (in memory)", "[A]\r\nj=1\r\nk=2",
         [](RTS_HANDLE db) {
             return cat({std::to_string(IniRemoveKey(db, 0, "K")), static_cast<IniDatabase*>(db)->text});
         },
         "0[A]\r\nj=1\r\n", nullptr},
        {"a [ after ; does not end the section", "[A]\r\nk=1 ; see [B]\r\nj=2\r\n\r\n[B]\r\nx=1\r\n",
         [](RTS_HANDLE db) {
             const RTS_RESULT r = IniRemoveAllKeys(db, 0);
             return cat({std::to_string(r), read(db, "A", "j"), write(db, "B", "y", "2")});
         },
         "0#160", "[A]\r\n\r\n[B]\r\nx=1\r\ny=2\r\n"},
        {"values with control characters or brackets change nothing", "[A]\r\nk=1\r\n",
         [](RTS_HANDLE db) {
             return cat(
                 {write(db, "A", "k", "a\tb"), write(db, "A", "k", "[x]"), write(db, "A", "k", "\x7f")});
         },
         "242424", nullptr},
        {"a filter or the write protection refuses writes", "[A]\r\nk=1\r\n",
         [](RTS_HANDLE db) {
             IniSetFilter(db, "[B][C]");
             const std::string filtered =
                 cat({write(db, "A", "k", "2"), std::to_string(IniCheckFilter(db, "c"))});
             IniSetFilter(db, "");
             IniSetWriteProtected(db, 1);
             return cat(
                 {filtered, write(db, "A", "k", "2"), std::to_string(IniIsWriteProtected(db, nullptr))});
         },
         "250251", nullptr},
        {"cut values, the length a value needs, no pointers into .cfg texts", "[A]\r\nk=abcdef\r\n",
         [](RTS_HANDLE db) {
             char buffer[4], *direct = nullptr;
             RTS_I32 cut = 4, needed = 0;
             const RTS_RESULT r = IniReadValue(db, "A", "k", buffer, &cut);
             IniReadValue(db, "A", "k", nullptr, &needed);
             return cat({std::to_string(r), buffer, std::to_string(cut), std::to_string(needed),
                         std::to_string(IniReadValue2(db, "A", "k", &direct))});
         },
         "15abc3739", nullptr},
    };
    for (const Row& row : rows) {
        IniResetLineSeparator();
        put("t.cfg", row.text);
        RTS_RESULT r = RES_FAILED;
        RTS_HANDLE db = IniOpen(path("t.cfg").c_str(), 0, &r);
        ASSERT_EQ(r, RES_OK) << row.label;
        EXPECT_EQ(row.act(db), row.told) << row.label;
        EXPECT_EQ(get("t.cfg"), row.after != nullptr ? row.after : row.text) << row.label;
        EXPECT_EQ(IniDelete(db), RES_OK);
    }
}

TEST_F(Files, OpeningRules) {
    RTS_RESULT r = RES_OK;
    const std::string longName = path(std::string(520, 'n'));
    std::string told;
    const std::pair<std::string, RTS_UI32> opens[] = {
        {path("none.cfg"), 0}, {path("none.cfg"), INI_APPEND_MISSING}, {longName, 0}, {longName, 1}, {"", 0}};
    for (const auto& [name, flags] : opens) {
        const bool opened = IniOpen(name.c_str(), flags, &r) != nullptr;
        told += (opened ? "open" : "") + std::to_string(r) + " ";
    }
    EXPECT_EQ(told, "2 25 2 25 2 ");

    put("gone.cf_", "[A]\r\nk=saved\r\n");
    RTS_HANDLE restored = IniOpen(path("gone.cfg").c_str(), 0, &r);
    EXPECT_EQ(read(restored, "A", "k"), "saved");
    EXPECT_EQ(get("gone.cfg"), "[A]\r\nk=saved\r\n");
    EXPECT_FALSE(exists("gone.cf_"));
    EXPECT_EQ(IniOpen(path("gone").c_str(), 0, &r), restored) << "a name without a dot finds the open .cfg";

    RTS_HANDLE made = IniOpen(path("new").c_str(), INI_CREATE_MISSING, &r);
    EXPECT_TRUE(made != nullptr && exists("new.cfg") && read(made, "A", "k") == "#16") << "made empty";
    put("x.ini", "[A]\r\nk=v\r\n");
    RTS_HANDLE other = IniOpen(path("x.ini").c_str(), 0, &r);
    char* value = nullptr;
    EXPECT_EQ(IniReadValue2(other, "A", "k", &value), RES_OK);
    EXPECT_STREQ(static_cast<IniDatabase*>(other)->fileName, path("x.ini").c_str());
    for (RTS_HANDLE db : {restored, made, other}) IniDelete(db);
}

// Rewrites every key line the files of a corpus show line by line, and adds a key to every
// section: the change is the value's bytes or one whole line, everything else stays byte for byte.
TEST_F(Files, EditsPreserveTheRestOfTheText) {
    const std::string corpus[] = {
        "[ComponentManager]\nComponent.1=CmpLog\nComponent.2=SysFile\n\n"
        "; [Disabled]\n;Key=1\n[Empty]\n\n[Last]\nA=1",
        "[CmpSettings]\r\nIniFile.Backup = 1\r\n\r\n[CmpEdgeGateway]\r\nMaintenanceMode=0\r\n"
        "Dir = \"C:/ProgramData/Gateway\"\r\n\r\n; [CmpEdgeGateway]\r\n; MaintenanceMode=1\r\n",
        "; Gateway configuration\r\n[CmpLog]\r\nLogger.0.Name = std.log\r\nLogger.0.Enable=1 ; on\r\n\r\n"
        "[SysFile]\r\n\tFilePath.1=./data/, *.cfg\r\n  # not a comment\r\n\r\n[CmpLog]\r\nExtra=\"q\"\r\n",
        "garbage before any section\r\n[S]\r\nweird line without equals\r\nK1=  spaced   \r\n"
        "   K2\t=\tx ; tabbed\r\n\r\n\r\n[T] trailing text\r\nK3=v\r\n[t]\r\nK4 = last",
    };
    int value = 0;
    for (const std::string& text : corpus) {
        std::vector<std::pair<std::string, std::string>> keys, added; // (section, key) by a plain line scan
        std::string section;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            const size_t first = line.find_first_not_of(" \t");
            if (first == std::string::npos || line[first] == ';') continue;
            if (line[first] == '[') section = line.substr(first + 1, line.find(']') - first - 1);
            if (line.find('=') != std::string::npos && !section.empty())
                keys.emplace_back(section, line.substr(first, line.find_first_of(" \t=", first) - first));
            if (line[first] == '[') added.emplace_back(section, "Added");
        }
        keys.insert(keys.end(), added.begin(), added.end()); // after a lookup has set the line end
        IniResetLineSeparator();
        for (const auto& [s, k] : keys) {
            put("c.cfg", text);
            RTS_HANDLE db = IniOpen(path("c.cfg").c_str(), 0, nullptr);
            const std::string before = get("c.cfg"), fresh = "v" + std::to_string(++value);
            const std::string old = read(db, s.c_str(), k.c_str());
            ASSERT_EQ(write(db, s.c_str(), k.c_str(), fresh.c_str()), "0") << s << "/" << k;
            const std::string after = get("c.cfg");
            IniDelete(db);
            size_t head = 0, tail = 0;
            while (head < before.size() && head < after.size() && before[head] == after[head]) ++head;
            while (tail + head < before.size() && tail + head < after.size() &&
                   before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
                ++tail;
            const std::string removed = before.substr(head, before.size() - head - tail);
            const std::string put = after.substr(head, after.size() - head - tail);
            const std::string stored =
                removed.substr(std::min(removed.find_first_not_of(" \t"), removed.size()));
            if (old[0] != '#') {
                EXPECT_TRUE(old.find(stored) != std::string::npos && fresh.find(put) != std::string::npos)
                    << s << "/" << k << ": " << removed << " -> " << put;
            } else { // one whole line, which a diff may see rotated against its neighbours
                const std::string sep = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
                const std::string line = k + "=" + fresh + sep;
                const bool rotated = put.size() == line.size() && (put + put).find(line) != std::string::npos;
                const bool lineEndFirst = head == before.size() && put == sep + line;
                EXPECT_TRUE(removed.empty() && (rotated || lineEndFirst)) << s << "/" << k << ": " << put;
            }
        }
    }
}

// A writer killed at random moments: the next open always finds one complete text. Under Wine a
// fresh writer now and then ends before it has opened the file; such a start is counted, shown
// with its exit code and given another try, and may happen at most twice.
TEST_F(Files, KilledWriterNeverLosesTheFile) {
    const std::string filler = "; the rest of the file, which must survive every kill\r\n[T]\r\nkept=1\r\n";
    put("k.cfg", "[S]\r\nV=a\r\n" + filler);
    std::mt19937 random(11);
    std::vector<int> unstarted;
    for (int kill = 0; kill < 200; ++kill) {
        ipctest::Probe writer({"rewrite-ini", path("k.cfg")});
        if (writer.read_line() != "ready") {
            unstarted.push_back(writer.wait());
            ASSERT_LE(unstarted.size(), 2u)
                << "exit codes of writers that did not start: " << ::testing::PrintToString(unstarted);
            --kill;
            continue;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        writer.kill();
        writer.wait();
        RTS_HANDLE db = IniOpen(path("k.cfg").c_str(), 0, nullptr);
        ASSERT_NE(db, nullptr) << "kill " << kill;
        const std::string whole = static_cast<IniDatabase*>(db)->text, value = read(db, "S", "V");
        IniDelete(db);
        ASSERT_EQ(whole, "[S]\r\nV=" + value + "\r\n" + filler) << "kill " << kill;
    }
    if (!unstarted.empty())
        std::printf("writers that did not start: %s\n", ::testing::PrintToString(unstarted).c_str());
}

} // namespace
