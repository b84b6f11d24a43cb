/* The Windows desktop on the real GatewayControl.exe, loaded beside this test as a data file:
 * the string table, the menu, the dialog templates, icons and picture as the resource compiler
 * built them from the shared header, read through the desktop where it loads them; and the
 * notification record the shell gets. */
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

    const BYTE* resource(UINT id, LPCSTR type, DWORD* size = nullptr) {
        HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
        if (found == nullptr) return nullptr;
        if (size != nullptr) *size = SizeofResource(module, found);
        return static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    }

    HMODULE module = nullptr;
    desktop::Desktop& windows = desktop::platform();
};

TEST_F(ProgramResources, StringTableHoldsTheSharedTextsByteForByte) {
    struct Case {
        UINT id;
        const char* text;
    };
    const Case cases[] = {
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
        {16, ""},
        {18, ""},
    };
    for (const Case& c : cases) {
        char text[1000];
        EXPECT_EQ(windows.load_string(module, c.id, text, sizeof text),
                  static_cast<int>(std::strlen(c.text)));
        EXPECT_STREQ(text, c.text) << c.id;
    }
}

TEST_F(ProgramResources, MenuHasItsItemsAndSeparatorsInOrder) {
    struct Item {
        UINT id; /* 0: a separator */
        const char* text;
    };
    const Item items[] = {{IDM_START, STR_MENU_START},
                          {IDM_STOP, STR_MENU_STOP},
                          {0, ""},
                          {IDM_EDGE, STR_MENU_EDGE},
                          {0, ""},
                          {IDM_EXIT, STR_MENU_EXIT},
                          {0, ""},
                          {IDM_ABOUT, STR_MENU_ABOUT}};
    RTS_HANDLE menu = windows.load_menu(module, IDR_TRAY_MENU);
    ASSERT_NE(menu, nullptr);
    HMENU popup = GetSubMenu(static_cast<HMENU>(menu), 0);
    ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(std::size(items)));
    for (UINT i = 0; i < std::size(items); ++i) {
        char text[100] = {};
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof text;
        ASSERT_TRUE(GetMenuItemInfoA(popup, i, TRUE, &info));
        EXPECT_EQ((info.fType & MFT_SEPARATOR) != 0, items[i].id == 0) << i;
        EXPECT_EQ(info.wID, items[i].id) << i;
        EXPECT_STREQ(text, items[i].text) << i;
    }
    windows.enable_menu_item(menu, IDM_STOP, false);
    EXPECT_EQ(GetMenuState(popup, IDM_STOP, MF_BYCOMMAND) & MF_GRAYED, static_cast<UINT>(MF_GRAYED));
    windows.enable_menu_item(menu, IDM_STOP, true);
    EXPECT_EQ(GetMenuState(popup, IDM_STOP, MF_BYCOMMAND) & MF_GRAYED, 0u);
    windows.destroy_menu(menu);
}

/* A dialog template read field by field: the header, then the controls, each on a 4-byte
 * boundary; texts and classes are either an ordinal (0xFFFF, number) or a wide string. */
struct DialogControl {
    DWORD style;
    short x, y, cx, cy;
    WORD id;
    std::string kind;
    std::string text;
};
struct DialogTemplate {
    DWORD style;
    short cx, cy;
    std::string caption;
    WORD pointSize;
    std::string font;
    std::vector<DialogControl> controls;
};

class TemplateReader {
public:
    explicit TemplateReader(const BYTE* data) : start_(data), at_(data) {}
    template <typename T> T take() {
        T value;
        std::memcpy(&value, at_, sizeof value);
        at_ += sizeof value;
        return value;
    }
    /* An ordinal as "#<number>", else the wide string's ASCII text; the predefined classes by
     * their ordinals whichever way they are written. */
    std::string name() {
        if (take<WORD>() == 0xFFFF) return "#" + std::to_string(take<WORD>());
        at_ -= sizeof(WORD);
        std::string text;
        for (WORD c; (c = take<WORD>()) != 0;) text.push_back(static_cast<char>(c));
        if (lstrcmpiA(text.c_str(), "Static") == 0) return "#130";
        if (lstrcmpiA(text.c_str(), "Button") == 0) return "#128";
        return text;
    }
    void align() { at_ = start_ + ((at_ - start_ + 3) & ~3); }

private:
    const BYTE* start_;
    const BYTE* at_;
};

DialogTemplate read_template(const BYTE* data) {
    TemplateReader in(data);
    DialogTemplate t{};
    t.style = in.take<DWORD>();
    in.take<DWORD>(); /* extended style */
    const WORD count = in.take<WORD>();
    in.take<short>(); /* x */
    in.take<short>(); /* y */
    t.cx = in.take<short>();
    t.cy = in.take<short>();
    in.name(); /* menu */
    in.name(); /* class */
    t.caption = in.name();
    if ((t.style & DS_SETFONT) != 0) {
        t.pointSize = in.take<WORD>();
        t.font = in.name();
    }
    for (WORD i = 0; i < count; ++i) {
        in.align();
        DialogControl c{};
        c.style = in.take<DWORD>();
        in.take<DWORD>();
        c.x = in.take<short>();
        c.y = in.take<short>();
        c.cx = in.take<short>();
        c.cy = in.take<short>();
        c.id = in.take<WORD>();
        c.kind = in.name();
        c.text = in.name();
        in.take<WORD>(); /* no creation data */
        t.controls.push_back(c);
    }
    return t;
}

TEST_F(ProgramResources, DialogsHaveTheirCaptionsSizesFontAndControls) {
    constexpr DWORD kFrame = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_BORDER | DS_MODALFRAME;
    struct Case {
        UINT id;
        DWORD frame; /* the style bits of kFrame it has */
        short cx, cy;
        const char* caption;
        std::vector<DialogControl> controls;
    };
    const std::string button = "#128", staticControl = "#130";
    const Case cases[] = {
        {IDD_ABOUT,
         WS_POPUP | WS_BORDER,
         214,
         223,
         "",
         {{SS_BITMAP, 0, 0, 200, 209, IDC_ABOUT_PICTURE, staticControl, "#" + std::to_string(IDB_ABOUT)}}},
        {IDD_SECOND_INSTANCE,
         DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
         180,
         73,
         STR_SECOND_INSTANCE_CAPTION,
         {{SS_LEFT, 7, 7, 166, 27, 0xFFFF, staticControl, STR_SECOND_INSTANCE_TEXT},
          {SS_ICON, 81, 32, 21, 20, IDC_TRAY_SYMBOL, staticControl, "#" + std::to_string(IDI_TRAY_SYMBOL)},
          {BS_DEFPUSHBUTTON, 66, 52, 50, 14, IDOK, button, "OK"}}},
    };
    for (const Case& c : cases) {
        const BYTE* data = resource(c.id, MAKEINTRESOURCEA(5) /* RT_DIALOG */);
        ASSERT_NE(data, nullptr) << c.id;
        const DialogTemplate t = read_template(data);
        EXPECT_EQ(t.style & kFrame, c.frame) << c.id;
        EXPECT_EQ(t.cx, c.cx) << c.id;
        EXPECT_EQ(t.cy, c.cy) << c.id;
        EXPECT_EQ(t.caption, c.caption) << c.id;
        EXPECT_EQ(t.pointSize, 8) << c.id;
        EXPECT_EQ(t.font, "MS Sans Serif") << c.id;
        ASSERT_EQ(t.controls.size(), c.controls.size()) << c.id;
        for (size_t i = 0; i < c.controls.size(); ++i) {
            const DialogControl &got = t.controls[i], &want = c.controls[i];
            EXPECT_EQ(got.style & 0xFF, want.style) << c.id << " control " << i;
            EXPECT_EQ((std::vector<short>{got.x, got.y, got.cx, got.cy}),
                      (std::vector<short>{want.x, want.y, want.cx, want.cy}))
                << c.id << " control " << i;
            EXPECT_EQ(got.id, want.id) << c.id << " control " << i;
            EXPECT_EQ(got.kind, want.kind) << c.id << " control " << i;
            EXPECT_EQ(got.text, want.text) << c.id << " control " << i;
        }
    }
}

TEST_F(ProgramResources, IconsComeInFourSizesAndLoadForTheNotificationArea) {
    for (UINT id : {IDI_RUNNING, IDI_STOPPED, IDI_TRAY_SYMBOL}) {
        const BYTE* group = resource(id, MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */);
        ASSERT_NE(group, nullptr) << id;
        TemplateReader in(group);
        in.take<WORD>();                     /* reserved */
        EXPECT_EQ(in.take<WORD>(), 1) << id; /* icons, not cursors */
        const WORD count = in.take<WORD>();
        std::vector<int> sizes;
        for (WORD i = 0; i < count; ++i) {
            const BYTE width = in.take<BYTE>();
            const BYTE height = in.take<BYTE>();
            EXPECT_EQ(width, height) << id;
            sizes.push_back(width);
            for (int skip = 0; skip < 12; ++skip) in.take<BYTE>(); /* colours, planes, bits, bytes, id */
        }
        EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 48})) << id;
        RTS_UI32 error = 0;
        EXPECT_NE(windows.load_icon(module, id, &error), nullptr) << id << " error " << error;
    }
    RTS_UI32 error = 0;
    EXPECT_EQ(windows.load_icon(module, IDB_ABOUT, &error), nullptr);
    EXPECT_NE(error, 0u);
}

TEST_F(ProgramResources, AboutPictureHasThePixelSizeItsControlIsLaidOutFor) {
    HANDLE picture = LoadImageA(module, MAKEINTRESOURCEA(IDB_ABOUT), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    ASSERT_NE(picture, nullptr);
    BITMAP info{};
    ASSERT_NE(GetObjectA(picture, sizeof info, &info), 0);
    EXPECT_EQ(info.bmWidth, ABOUT_PICTURE_WIDTH);
    EXPECT_EQ(info.bmHeight, ABOUT_PICTURE_HEIGHT);
    DeleteObject(picture);
}

TEST_F(ProgramResources, VersionTextsSayTheVersionNumbers) {
    DWORD size = 0;
    const BYTE* block = resource(1, MAKEINTRESOURCEA(16) /* RT_VERSION */, &size);
    ASSERT_NE(block, nullptr);
    std::vector<BYTE> copy(block, block + size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(copy.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    const std::string numbers = std::to_string(HIWORD(fixed->dwProductVersionMS)) + "." +
                                std::to_string(LOWORD(fixed->dwProductVersionMS)) + "." +
                                std::to_string(HIWORD(fixed->dwProductVersionLS)) + "." +
                                std::to_string(LOWORD(fixed->dwProductVersionLS));
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    for (const char* key :
         {"\\StringFileInfo\\040904B0\\ProductVersion", "\\StringFileInfo\\040904B0\\FileVersion"}) {
        char* text = nullptr;
        ASSERT_TRUE(VerQueryValueA(copy.data(), key, reinterpret_cast<void**>(&text), &length)) << key;
        EXPECT_EQ(std::string(text), numbers) << key;
    }
}

TEST(NotifyRecord, CarriesEveryFieldAndTheWholeTipFieldForTheShell) {
    desktop::IconRecord record;
    record.window = reinterpret_cast<RTS_HANDLE>(0x1234);
    record.id = 3333;
    record.flags = desktop::kIconFlagMessage | desktop::kIconFlagTip;
    record.callbackMessage = 2149;
    record.icon = reinterpret_cast<RTS_HANDLE>(0x5678);
    std::memset(record.tip, 'x', sizeof record.tip);
    const NOTIFYICONDATAA data = desktop::notify_record(record);
    EXPECT_EQ(data.cbSize, 528u);
    EXPECT_EQ(data.hWnd, reinterpret_cast<HWND>(0x1234));
    EXPECT_EQ(data.uID, 3333u);
    EXPECT_EQ(data.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_TIP));
    EXPECT_EQ(data.uCallbackMessage, 2149u);
    EXPECT_EQ(data.hIcon, reinterpret_cast<HICON>(0x5678));
    EXPECT_EQ(std::string(data.szTip, sizeof data.szTip), std::string(128, 'x'));
    EXPECT_EQ(data.dwState, 0u); /* nothing after the tip */
}

} // namespace
