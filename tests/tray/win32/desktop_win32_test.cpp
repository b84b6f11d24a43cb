/* The Windows desktop on the real GatewayControl.exe, loaded beside this test as a data file:
 * the numbers the Wine run of the tray cannot see (the menu's ids and order, the dialogs' sizes,
 * captions, font and control places) and the size of the notification record the shell gets. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "win32/desktop_win32.h"
#include "resources/strings.h"

namespace {

/* GatewayControl.exe from the folder of this test program, as resources only. */
class ProgramResources : public ::testing::Test {
protected:
    void SetUp() override {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string exe(path);
        exe = exe.substr(0, exe.find_last_of("\\/") + 1) + "GatewayControl.exe";
        module =
            LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << exe << " error " << GetLastError();
    }
    void TearDown() override { FreeLibrary(module); }

    HMODULE module = nullptr;
};

TEST_F(ProgramResources, MenuHasItsItemsAndSeparatorsInOrder) {
    desktop::Desktop& windows = desktop::platform();
    const std::vector<UINT> ids = {IDM_START, IDM_STOP, 0, IDM_EDGE,
                                   0,         IDM_EXIT, 0, IDM_ABOUT}; /* 0: separator */
    RTS_HANDLE menu = windows.load_menu(module, IDR_TRAY_MENU);
    ASSERT_NE(menu, nullptr);
    HMENU popup = GetSubMenu(static_cast<HMENU>(menu), 0);
    std::vector<UINT> got;
    for (int i = 0; i < GetMenuItemCount(popup); ++i)
        got.push_back((GetMenuState(popup, i, MF_BYPOSITION) & MF_SEPARATOR) ? 0 : GetMenuItemID(popup, i));
    EXPECT_EQ(got, ids);
    windows.destroy_menu(menu);
}

/* A dialog template: size, caption, font, and per control its place, size and id; names are an
 * ordinal (0xFFFF, number) or a wide string, controls start on a 4-byte boundary. */
struct Template {
    const BYTE* at;
    const BYTE* start;
    template <typename T> T take() {
        T value;
        std::memcpy(&value, at, sizeof value);
        at += sizeof value;
        return value;
    }
    std::string name() {
        std::string text;
        if (take<WORD>() == 0xFFFF) return "#" + std::to_string(take<WORD>());
        at -= sizeof(WORD);
        for (WORD c; (c = take<WORD>()) != 0;) text.push_back(static_cast<char>(c));
        return text;
    }
};

TEST_F(ProgramResources, DialogsHaveTheirSizesCaptionsFontAndControls) {
    struct Case {
        UINT id;
        std::string header;
        std::vector<int> controls; /* x, y, cx, cy, id of each */
    };
    const Case cases[] = {
        {IDD_ABOUT, "214 223  8 MS Sans Serif", {0, 0, 200, 209, IDC_ABOUT_PICTURE}},
        {IDD_SECOND_INSTANCE,
         "180 73 " STR_SECOND_INSTANCE_CAPTION " 8 MS Sans Serif",
         {7, 7, 166, 27, 0xFFFF, 81, 32, 21, 20, IDC_TRAY_SYMBOL, 66, 52, 50, 14, IDOK}},
    };
    for (const Case& c : cases) {
        HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(c.id), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
        ASSERT_NE(found, nullptr) << c.id;
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
        Template in{data, data};
        in.take<DWORD>(), in.take<DWORD>(); /* style, extended style */
        const WORD count = in.take<WORD>();
        in.take<DWORD>(); /* x, y */
        std::string header = std::to_string(in.take<short>());
        header += " " + std::to_string(in.take<short>());
        in.name(), in.name(); /* menu, class */
        header += " " + in.name();
        header += " " + std::to_string(in.take<WORD>());
        header += " " + in.name();
        EXPECT_EQ(header, c.header) << c.id;
        std::vector<int> controls;
        for (WORD i = 0; i < count; ++i) {
            in.at = in.start + ((in.at - in.start + 3) & ~3);
            in.take<DWORD>(), in.take<DWORD>(); /* styles */
            for (int field = 0; field < 4; ++field) controls.push_back(in.take<short>());
            controls.push_back(in.take<WORD>());
            in.name(), in.name(), in.take<WORD>(); /* class, text, no creation data */
        }
        EXPECT_EQ(controls, c.controls) << c.id;
    }
}

TEST(NotifyRecord, HasTheShellsRecordSize) {
    EXPECT_EQ(desktop::notify_record(desktop::IconRecord{}).cbSize, 528u);
}

} // namespace
