// The dialog template reader against the program's own two templates, hand-made templates and
// damaged data; and the dialog-unit arithmetic the dialogs are laid out with.
#include "dialog_template.h"
#include "res.h"
#include "resources.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using Kind = DialogControlKind;

struct ExpectedItem {
    int id;
    const char *cls; // lower case, whether the template gives an atom or a name
    Kind kind;
    const char *text; // null: not checked
    int x, y, cx, cy;
    DWORD style; // every bit the item carries
};

const DWORD CHILD = WS_CHILD | WS_VISIBLE;
const DWORD PUSH = CHILD | BS_PUSHBUTTON | BS_CENTER | WS_TABSTOP;
const DWORD CHECK = CHILD | BS_AUTOCHECKBOX | WS_TABSTOP;

const std::vector<ExpectedItem> config_items = {
    {IDOK, "button", Kind::PushButton, "OK", 186, 6, 50, 14, PUSH},
    {IDCANCEL, "button", Kind::PushButton, "Cancel", 186, 26, 50, 14, PUSH},
    {IDC_ABOUT, "button", Kind::PushButton, "About", 186, 46, 50, 14, PUSH},
    {IDC_RIPPLE_DESKTOP, "button", Kind::AutoCheckBox, "Ripple desktop", 8, 9, 60, 12, CHECK},
    {IDC_LIGHTEN_DARKEN, "button", Kind::AutoCheckBox, "Lighten and darken ripples", 8, 26, 104, 12, CHECK},
    {IDC_DOUBLE_BUFFER, "button", Kind::AutoCheckBox, "Double buffer (You really want this)", 8, 43, 132, 12, CHECK},
    {IDC_HIGH_QUALITY, "button", Kind::AutoCheckBox, "High quality", 8, 60, 60, 12, CHECK},
    {-1, "static", Kind::Text, "Ripple speed", 12, 84, 60, 8, CHILD | SS_LEFT},
    {-1, "static", Kind::Text, "Ripple frequency", 12, 112, 84, 8, CHILD | SS_LEFT},
    {IDC_RIPPLE_SPEED, "msctls_trackbar32", Kind::Slider, "TrackBar1", 8, 92, 220, 18, CHILD},
    {IDC_RIPPLE_FREQ, "msctls_trackbar32", Kind::Slider, "TrackBar2", 8, 120, 220, 18, CHILD},
    {IDC_TEXTURE_SMALLER, "button", Kind::PushButton, "-", 24, 140, 16, 14, PUSH},
    {IDC_TEXTURE_SIZE, "static", Kind::Text, "", 48, 144, 132, 9, CHILD | SS_CENTER},
    {IDC_TEXTURE_BIGGER, "button", Kind::PushButton, "+", 184, 140, 16, 14, PUSH},
};

const std::vector<ExpectedItem> about_items = {
    {IDOK, "button", Kind::PushButton, "OK", 124, 76, 50, 14, PUSH},
    {-1, "static", Kind::Text, "Tidefold Screen Saver v.9", 8, 4, 164, 12, CHILD | SS_LEFT},
    {IDC_ABOUT_TEXT, "edit", Kind::Edit, nullptr, 8, 28, 164, 40, CHILD | ES_MULTILINE | ES_READONLY | WS_TABSTOP},
};

std::string class_of(const DialogItemTemplate &item)
{
    switch (item.class_atom) {
    case 0x80: return "button";
    case 0x81: return "edit";
    case 0x82: return "static";
    case 0: {
        std::string s = item.class_name;
        for (char &c : s) c = (char)tolower((unsigned char)c);
        return s;
    }
    default: return "atom " + std::to_string(item.class_atom);
    }
}

std::vector<BYTE> resource(const char *name)
{
    const BYTE *d = nullptr;
    DWORD n = 0;
    EXPECT_TRUE(find_resource(MAKEINTRESOURCEA(RT_DIALOG_ID), name, &d, &n)) << name;
    return std::vector<BYTE>(d, d + n);
}

bool parses(const std::vector<BYTE> &b, DialogTemplate *t = nullptr)
{
    DialogTemplate scratch;
    return parse_dialog_template(b.data(), b.size(), t ? t : &scratch);
}

} // namespace

TEST(DialogTemplate, BothDialogsHaveEveryControlAtItsPlaceInTabOrder)
{
    struct Dialog {
        const char *name, *title;
        int cx, cy;
        const std::vector<ExpectedItem> &items;
    };
    for (const Dialog &dialog : {Dialog{"ConfigDlg", "Configure...", 240, 181, config_items},
                                 Dialog{"AboutDlg", "About...", 177, 95, about_items}}) {
        SCOPED_TRACE(dialog.name);
        DialogTemplate t;
        ASSERT_TRUE(parses(resource(dialog.name), &t));
        EXPECT_EQ(t.title, dialog.title);
        EXPECT_EQ(std::vector<int>({t.x, t.y, t.cx, t.cy}), std::vector<int>({0, 0, dialog.cx, dialog.cy}));
        EXPECT_EQ(t.style, (DWORD)(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT |
                                   DS_3DLOOK | DS_CONTEXTHELP));
        EXPECT_EQ(t.ex_style, (DWORD)(WS_EX_DLGMODALFRAME | WS_EX_CONTEXTHELP));
        EXPECT_TRUE(t.has_font);
        EXPECT_EQ(t.point_size, 8);
        EXPECT_EQ(t.typeface, "MS Sans Serif");
        EXPECT_TRUE(t.menu.empty() && !t.menu_is_ordinal && t.window_class.empty() && !t.class_is_ordinal);
        ASSERT_EQ(t.items.size(), dialog.items.size());
        for (size_t i = 0; i < t.items.size(); i++) {
            const DialogItemTemplate &got = t.items[i];
            const ExpectedItem &want = dialog.items[i];
            SCOPED_TRACE("item " + std::to_string(i));
            EXPECT_EQ(got.id, want.id);
            EXPECT_EQ(class_of(got), want.cls);
            EXPECT_EQ(dialog_control_kind(got), want.kind);
            if (want.text) {
                EXPECT_FALSE(got.title_is_ordinal);
                EXPECT_EQ(got.title, want.text);
            }
            EXPECT_EQ(std::vector<int>({got.x, got.y, got.cx, got.cy}),
                      std::vector<int>({want.x, want.y, want.cx, want.cy}));
            EXPECT_EQ(got.style, want.style) << std::hex << got.style;
            EXPECT_EQ(got.ex_style, 0u);
            EXPECT_TRUE(got.extra.empty());
        }
    }
    DialogTemplate about;
    ASSERT_TRUE(parses(resource("AboutDlg"), &about));
    EXPECT_GT(about.items[2].title.size(), 20u) << "the acknowledgement is a sentence or two";

    const BYTE *a, *b;
    DWORD na, nb;
    ASSERT_TRUE(find_resource(MAKEINTRESOURCEA(RT_DIALOG_ID), "configdlg", &a, &na)) << "names ignore case";
    ASSERT_TRUE(find_resource(MAKEINTRESOURCEA(RT_DIALOG_ID), "ConfigDlg", &b, &nb));
    EXPECT_EQ(a, b);
    EXPECT_FALSE(find_resource(MAKEINTRESOURCEA(RT_DIALOG_ID), "NoSuchDlg", &a, &na));
}

TEST(DialogTemplate, EveryTruncationOfTheRealTemplatesFailsCleanly)
{
    for (const char *name : {"ConfigDlg", "AboutDlg"}) {
        std::vector<BYTE> data = resource(name);
        // Each prefix sits in a buffer of exactly its length, so the address sanitizer catches a
        // read past the end rather than letting it land in the next resource.
        for (size_t n = 0; n < data.size(); n++) {
            std::unique_ptr<BYTE[]> copy(new BYTE[n + 1]);
            memcpy(copy.get(), data.data(), n);
            DialogTemplate t;
            // Only trailing alignment padding after the last control may be cut off.
            if (parse_dialog_template(copy.get(), n, &t)) {
                EXPECT_GE(n, data.size() - 3) << name << " accepted " << n << " of " << data.size() << " bytes";
            }
        }
    }
}

TEST(DialogTemplate, RejectsOtherFormatsBadSignaturesAndTooManyControls)
{
    const std::vector<BYTE> about = resource("AboutDlg");
    ASSERT_TRUE(parses(about));
    // A plain DLGTEMPLATE starts with its style, not with version 1 and signature 0xFFFF.
    for (auto [offset, byte] : {std::pair{2, 0xFE} /* signature */, {0, 2} /* version */, {16, 4} /* count + 1 */}) {
        std::vector<BYTE> copy = about;
        copy[offset] = (BYTE)byte;
        EXPECT_FALSE(parses(copy)) << "byte " << offset;
    }
    DialogTemplate t;
    EXPECT_FALSE(parse_dialog_template(nullptr, 100, &t));
}

TEST(DialogControlKinds, ClassAndStyleSelectTheControl)
{
    struct Case {
        WORD atom;
        const char *name;
        DWORD style;
        Kind kind;
    } cases[] = {
        {0x80, "", BS_DEFPUSHBUTTON, Kind::PushButton},
        {0x80, "", BS_CHECKBOX, Kind::CheckBox},
        {0x80, "", BS_AUTOCHECKBOX | BS_CENTER, Kind::AutoCheckBox},
        {0x80, "", 7 /* group box */, Kind::Unsupported},
        {0, "Button", BS_PUSHBUTTON, Kind::PushButton},
        {0x82, "", SS_RIGHT | SS_NOPREFIX, Kind::Text},
        {0x82, "", 3 /* icon */, Kind::Unsupported},
        {0, "EDIT", 0, Kind::Edit},
        {0, "MSCTLS_TRACKBAR32", TBS_VERT, Kind::Slider},
        {0, "msctls_progress32", 0, Kind::Unsupported},
        {0x83, "", 0, Kind::Unsupported},
    };
    for (const Case &c : cases) {
        DialogItemTemplate item;
        item.class_atom = c.atom;
        item.class_name = c.name;
        item.style = c.style | WS_CHILD | WS_VISIBLE;
        EXPECT_EQ(dialog_control_kind(item), c.kind) << c.atom << " " << c.name << " " << std::hex << c.style;
    }
}

TEST(DialogUnits, ConvertWithBaseUnitsRoundingHalvesAway)
{
    // x * base / 4 and y * base / 8, rounded to the nearest pixel as MulDiv rounds.
    struct Case {
        int dlu, base, px_x, px_y;
    } cases[] = {
        {240, 6, 360, 180}, {181, 13, 588, 294}, {9, 13, 29, 15}, {1, 6, 2, 1},        {1, 2, 1, 0},
        {3, 2, 2, 1},       {0, 13, 0, 0},       {-1, 6, -2, -1}, {-10, 13, -33, -16},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(dlu_to_px_x(c.dlu, c.base), c.px_x) << c.dlu << " x " << c.base;
        EXPECT_EQ(dlu_to_px_y(c.dlu, c.base), c.px_y) << c.dlu << " x " << c.base;
    }
    // The average width is the alphabet's width over 52, rounded, and never zero: it divides the layout.
    for (auto [alphabet, width] : {std::pair{312, 6}, {337, 6}, {338, 7}, {0, 1}})
        EXPECT_EQ(average_char_width(alphabet), width) << alphabet;
}

TEST(DialogText, AmpersandsBecomeGtkMnemonics)
{
    for (auto [from, to] : {std::pair{"OK", "OK"}, {"&About", "_About"}, {"Salt && pepper", "Salt & pepper"},
                            {"snake_case", "snake__case"}, {"dangling&", "dangling"}})
        EXPECT_EQ(dialog_text_to_gtk(from), to) << from;
}
