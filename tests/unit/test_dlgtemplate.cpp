// The dialog template reader against the program's own two templates, hand-made templates and
// damaged data; and the dialog-unit arithmetic the dialogs are laid out with.
#include "dialogs.h"
#include "res.h"
#include "resources.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

struct ExpectedItem {
    int id;
    const char *cls; // "button", "static", "edit" or "msctls_trackbar32"
    DialogControlKind kind;
    const char *text;
    int x, y, cx, cy;
    DWORD style; // every bit the item carries
};

const DWORD CHILD = WS_CHILD | WS_VISIBLE;
const DWORD PUSH = CHILD | BS_PUSHBUTTON | BS_CENTER | WS_TABSTOP;
const DWORD CHECK = CHILD | BS_AUTOCHECKBOX | WS_TABSTOP;

const ExpectedItem config_items[] = {
    {IDOK, "button", DialogControlKind::PushButton, "OK", 186, 6, 50, 14, PUSH},
    {IDCANCEL, "button", DialogControlKind::PushButton, "Cancel", 186, 26, 50, 14, PUSH},
    {IDC_ABOUT, "button", DialogControlKind::PushButton, "About", 186, 46, 50, 14, PUSH},
    {IDC_RIPPLE_DESKTOP, "button", DialogControlKind::AutoCheckBox, "Ripple desktop", 8, 9, 60, 12, CHECK},
    {IDC_LIGHTEN_DARKEN, "button", DialogControlKind::AutoCheckBox, "Lighten and darken ripples", 8, 26, 104, 12,
     CHECK},
    {IDC_DOUBLE_BUFFER, "button", DialogControlKind::AutoCheckBox, "Double buffer (You really want this)", 8, 43,
     132, 12, CHECK},
    {IDC_HIGH_QUALITY, "button", DialogControlKind::AutoCheckBox, "High quality", 8, 60, 60, 12, CHECK},
    {-1, "static", DialogControlKind::Text, "Ripple speed", 12, 84, 60, 8, CHILD | SS_LEFT},
    {-1, "static", DialogControlKind::Text, "Ripple frequency", 12, 112, 84, 8, CHILD | SS_LEFT},
    {IDC_RIPPLE_SPEED, "msctls_trackbar32", DialogControlKind::Slider, "TrackBar1", 8, 92, 220, 18, CHILD},
    {IDC_RIPPLE_FREQ, "msctls_trackbar32", DialogControlKind::Slider, "TrackBar2", 8, 120, 220, 18, CHILD},
    {IDC_TEXTURE_SMALLER, "button", DialogControlKind::PushButton, "-", 24, 140, 16, 14, PUSH},
    {IDC_TEXTURE_SIZE, "static", DialogControlKind::Text, "", 48, 144, 132, 9, CHILD | SS_CENTER},
    {IDC_TEXTURE_BIGGER, "button", DialogControlKind::PushButton, "+", 184, 140, 16, 14, PUSH},
};

const ExpectedItem about_items[] = {
    {IDOK, "button", DialogControlKind::PushButton, "OK", 124, 76, 50, 14, PUSH},
    {-1, "static", DialogControlKind::Text, "Tidefold Screen Saver v.9", 8, 4, 164, 12, CHILD | SS_LEFT},
    {IDC_ABOUT_TEXT, "edit", DialogControlKind::Edit, nullptr, 8, 28, 164, 40,
     CHILD | ES_MULTILINE | ES_READONLY | WS_TABSTOP},
};

// The class an item names, as a lower-case name whether it came as an atom or a string.
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

DialogTemplate load(const char *name, const BYTE **data = nullptr, DWORD *size = nullptr)
{
    const BYTE *d = nullptr;
    DWORD n = 0;
    DialogTemplate t;
    EXPECT_TRUE(find_resource(MAKEINTRESOURCEA(RT_DIALOG_ID), name, &d, &n)) << name;
    EXPECT_TRUE(parse_dialog_template(d, n, &t)) << name;
    if (data) *data = d;
    if (size) *size = n;
    return t;
}

void expect_items(const DialogTemplate &t, const ExpectedItem *want, size_t count)
{
    ASSERT_EQ(t.items.size(), count);
    for (size_t i = 0; i < count; i++) {
        const DialogItemTemplate &got = t.items[i];
        SCOPED_TRACE("item " + std::to_string(i) + " id " + std::to_string(want[i].id));
        EXPECT_EQ(got.id, want[i].id);
        EXPECT_EQ(class_of(got), want[i].cls);
        EXPECT_EQ(dialog_control_kind(got), want[i].kind);
        if (want[i].text) {
            EXPECT_FALSE(got.title_is_ordinal);
            EXPECT_EQ(got.title, want[i].text);
        }
        EXPECT_EQ(got.x, want[i].x);
        EXPECT_EQ(got.y, want[i].y);
        EXPECT_EQ(got.cx, want[i].cx);
        EXPECT_EQ(got.cy, want[i].cy);
        EXPECT_EQ(got.style, want[i].style) << std::hex << got.style;
        EXPECT_EQ(got.ex_style, 0u);
        EXPECT_FALSE(got.style & WS_GROUP);
        if (class_of(got) == "button") {
            EXPECT_NE(got.style & BS_TYPEMASK, (DWORD)BS_DEFPUSHBUTTON) << "no default push button";
        }
        EXPECT_TRUE(got.extra.empty());
    }
}

void expect_dialog_frame(const DialogTemplate &t, const char *title, int cx, int cy)
{
    EXPECT_EQ(t.title, title);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, cx);
    EXPECT_EQ(t.cy, cy);
    EXPECT_EQ(t.style, (DWORD)(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT |
                               DS_3DLOOK | DS_CONTEXTHELP));
    EXPECT_EQ(t.ex_style, (DWORD)(WS_EX_DLGMODALFRAME | WS_EX_CONTEXTHELP));
    EXPECT_TRUE(t.has_font);
    EXPECT_EQ(t.point_size, 8);
    EXPECT_EQ(t.typeface, "MS Sans Serif");
    EXPECT_TRUE(t.menu.empty() && !t.menu_is_ordinal);
    EXPECT_TRUE(t.window_class.empty() && !t.class_is_ordinal);
}

// A little-endian writer for hand-made templates.
struct Builder {
    std::vector<BYTE> b;
    void u16(unsigned v)
    {
        b.push_back((BYTE)v);
        b.push_back((BYTE)(v >> 8));
    }
    void u32(DWORD v)
    {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void str(const char16_t *s)
    {
        for (; *s; s++) u16(*s);
        u16(0);
    }
    void align() { b.resize((b.size() + 3) & ~(size_t)3, 0); }
    void header(DWORD style, unsigned count, const char16_t *title)
    {
        u16(1);
        u16(0xFFFF);
        u32(7);      // help id
        u32(0x100);  // ex style
        u32(style);
        u16(count);
        u16(0xFFF6); // x = -10
        u16(20);
        u16(100);
        u16(50);
        u16(0xFFFF); // menu by ordinal
        u16(3);
        u16(0);      // standard dialog class
        str(title);
    }
};

} // namespace

TEST(DialogTemplate, ConfigDialogHasEveryControlAtItsPlaceInTabOrder)
{
    DialogTemplate t = load("ConfigDlg");
    expect_dialog_frame(t, "Configure...", 240, 181);
    expect_items(t, config_items, sizeof config_items / sizeof config_items[0]);
}

TEST(DialogTemplate, AboutDialogHasEveryControlAtItsPlace)
{
    DialogTemplate t = load("AboutDlg");
    expect_dialog_frame(t, "About...", 177, 95);
    expect_items(t, about_items, sizeof about_items / sizeof about_items[0]);
    const std::string &ack = t.items[2].title;
    EXPECT_GT(ack.size(), 20u) << "the acknowledgement is a sentence or two";
    EXPECT_FALSE(t.items[2].style & WS_BORDER);
}

TEST(DialogTemplate, NamesMatchWithoutRegardToCase)
{
    const BYTE *a, *b;
    DWORD na, nb;
    ASSERT_TRUE(find_resource(MAKEINTRESOURCEA(RT_DIALOG_ID), "configdlg", &a, &na));
    ASSERT_TRUE(find_resource(MAKEINTRESOURCEA(RT_DIALOG_ID), "ConfigDlg", &b, &nb));
    EXPECT_EQ(a, b);
    EXPECT_FALSE(find_resource(MAKEINTRESOURCEA(RT_DIALOG_ID), "NoSuchDlg", &a, &na));
}

TEST(DialogTemplate, EveryTruncationOfTheRealTemplatesFailsCleanly)
{
    for (const char *name : {"ConfigDlg", "AboutDlg"}) {
        const BYTE *data;
        DWORD size;
        load(name, &data, &size);
        // Each prefix is copied into a buffer of exactly its length, so a read past the end is
        // caught by the address sanitizer rather than landing in the next resource.
        for (DWORD n = 0; n < size; n++) {
            std::unique_ptr<BYTE[]> copy(new BYTE[n + 1]);
            memcpy(copy.get(), data, n);
            DialogTemplate t;
            bool ok = parse_dialog_template(copy.get(), n, &t);
            // Only trailing alignment padding after the last control may be cut off.
            if (ok) {
                EXPECT_GE(n, size - 3) << name << " accepted " << n << " of " << size << " bytes";
            }
        }
    }
}

TEST(DialogTemplate, RejectsOtherFormatsAndBadSignatures)
{
    const BYTE *data;
    DWORD size;
    load("AboutDlg", &data, &size);
    std::vector<BYTE> copy(data, data + size);
    DialogTemplate t;

    copy[2] = 0xFE; // signature
    EXPECT_FALSE(parse_dialog_template(copy.data(), copy.size(), &t));
    copy[2] = 0xFF;
    copy[0] = 2; // version
    EXPECT_FALSE(parse_dialog_template(copy.data(), copy.size(), &t));
    copy[0] = 1;
    EXPECT_TRUE(parse_dialog_template(copy.data(), copy.size(), &t));

    // A plain DLGTEMPLATE starts with its style, not with version 1 and 0xFFFF.
    Builder plain;
    plain.u32(WS_POPUP | WS_CAPTION);
    plain.u32(0);
    plain.u16(0);
    for (int i = 0; i < 4; i++) plain.u16(10);
    plain.u16(0);
    plain.u16(0);
    plain.str(u"Plain");
    EXPECT_FALSE(parse_dialog_template(plain.b.data(), plain.b.size(), &t));
    EXPECT_FALSE(parse_dialog_template(nullptr, 100, &t));
}

TEST(DialogTemplate, ControlCountBeyondTheDataFails)
{
    const BYTE *data;
    DWORD size;
    load("AboutDlg", &data, &size);
    std::vector<BYTE> copy(data, data + size);
    copy[16] = 4; // cDlgItems: one more control than the template holds
    DialogTemplate t;
    EXPECT_FALSE(parse_dialog_template(copy.data(), copy.size(), &t));
}

TEST(DialogTemplate, ReadsAtomsOrdinalsExtraDataAndAlignment)
{
    Builder b;
    b.header(WS_POPUP | WS_CAPTION, 3, u"Caf\u00e9 \U0001F30A"); // no DS_SETFONT: no font fields
    // Item 1: a button by atom, title by ordinal, two bytes of creation data.
    b.align();
    b.u32(11);         // help id
    b.u32(0x200);      // ex style
    b.u32(WS_CHILD | BS_AUTOCHECKBOX);
    b.u16(1);
    b.u16(0xFFFE);     // y = -2
    b.u16(30);
    b.u16(12);
    b.u32(0x12345678); // id
    b.u16(0xFFFF);
    b.u16(0x0080);
    b.u16(0xFFFF);
    b.u16(42);
    b.u16(2);
    b.b.push_back(0xAB);
    b.b.push_back(0xCD);
    // Item 2: a named class, odd-length title so the next item needs padding.
    b.align();
    b.u32(0);
    b.u32(0);
    b.u32(WS_CHILD | SS_RIGHT);
    for (int i = 0; i < 4; i++) b.u16(5);
    b.u32(0xFFFFFFFF);
    b.str(u"sTaTiC");
    b.str(u"a");
    b.u16(0);
    // Item 3: an edit by atom with an empty title.
    b.align();
    b.u32(0);
    b.u32(0);
    b.u32(WS_CHILD | ES_MULTILINE);
    for (int i = 0; i < 4; i++) b.u16(6);
    b.u32(300);
    b.u16(0xFFFF);
    b.u16(0x0081);
    b.u16(0);
    b.u16(0);

    DialogTemplate t;
    ASSERT_TRUE(parse_dialog_template(b.b.data(), b.b.size(), &t));
    EXPECT_EQ(t.title, "Caf\xC3\xA9 \xF0\x9F\x8C\x8A");
    EXPECT_EQ(t.help_id, 7u);
    EXPECT_EQ(t.ex_style, 0x100u);
    EXPECT_EQ(t.x, -10);
    EXPECT_TRUE(t.menu_is_ordinal);
    EXPECT_EQ(t.menu_ordinal, 3);
    EXPECT_FALSE(t.has_font);
    ASSERT_EQ(t.items.size(), 3u);

    EXPECT_EQ(t.items[0].help_id, 11u);
    EXPECT_EQ(t.items[0].ex_style, 0x200u);
    EXPECT_EQ(t.items[0].y, -2);
    EXPECT_EQ(t.items[0].id, 0x12345678);
    EXPECT_EQ(t.items[0].class_atom, 0x80);
    EXPECT_TRUE(t.items[0].title_is_ordinal);
    EXPECT_EQ(t.items[0].title_ordinal, 42);
    EXPECT_EQ(t.items[0].extra, (std::vector<BYTE>{0xAB, 0xCD}));
    EXPECT_EQ(dialog_control_kind(t.items[0]), DialogControlKind::AutoCheckBox);

    EXPECT_EQ(t.items[1].id, -1);
    EXPECT_EQ(t.items[1].class_name, "sTaTiC");
    EXPECT_EQ(t.items[1].title, "a");
    EXPECT_EQ(dialog_control_kind(t.items[1]), DialogControlKind::Text);

    EXPECT_EQ(t.items[2].id, 300);
    EXPECT_EQ(t.items[2].title, "");
    EXPECT_EQ(dialog_control_kind(t.items[2]), DialogControlKind::Edit);

    // Creation data longer than what is left is malformed.
    std::vector<BYTE> bad = b.b;
    bad.resize(bad.size() - 2); // drop item 3's title and extra count
    EXPECT_FALSE(parse_dialog_template(bad.data(), bad.size(), &t));
}

TEST(DialogTemplate, EmptyClassNameIsMalformed)
{
    Builder b;
    b.header(WS_POPUP, 1, u"x");
    b.align();
    b.u32(0);
    b.u32(0);
    b.u32(WS_CHILD);
    for (int i = 0; i < 4; i++) b.u16(1);
    b.u32(1);
    b.u16(0); // class: empty string
    b.u16(0);
    b.u16(0);
    DialogTemplate t;
    EXPECT_FALSE(parse_dialog_template(b.b.data(), b.b.size(), &t));
}

TEST(DialogControlKinds, ClassAndStyleSelectTheControl)
{
    struct Case {
        WORD atom;
        const char *name;
        DWORD style;
        DialogControlKind kind;
    } cases[] = {
        {0x80, "", BS_PUSHBUTTON, DialogControlKind::PushButton},
        {0x80, "", BS_DEFPUSHBUTTON, DialogControlKind::PushButton},
        {0x80, "", BS_CHECKBOX, DialogControlKind::CheckBox},
        {0x80, "", BS_AUTOCHECKBOX | BS_CENTER, DialogControlKind::AutoCheckBox},
        {0x80, "", 7 /* group box */, DialogControlKind::Unsupported},
        {0, "Button", BS_PUSHBUTTON, DialogControlKind::PushButton},
        {0x82, "", SS_LEFT, DialogControlKind::Text},
        {0x82, "", SS_CENTER, DialogControlKind::Text},
        {0x82, "", SS_RIGHT | SS_NOPREFIX, DialogControlKind::Text},
        {0x82, "", 3 /* icon */, DialogControlKind::Unsupported},
        {0x81, "", ES_MULTILINE | ES_READONLY, DialogControlKind::Edit},
        {0, "EDIT", 0, DialogControlKind::Edit},
        {0, "msctls_trackbar32", 0, DialogControlKind::Slider},
        {0, "MSCTLS_TRACKBAR32", TBS_VERT, DialogControlKind::Slider},
        {0, "msctls_progress32", 0, DialogControlKind::Unsupported},
        {0x83, "", 0, DialogControlKind::Unsupported},
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
        {240, 6, 360, 180}, {240, 7, 420, 210}, {181, 13, 588, 294}, {9, 13, 29, 15},
        {1, 6, 2, 1},       {1, 2, 1, 0},       {3, 2, 2, 1},        {0, 13, 0, 0},
        {-1, 6, -2, -1},    {-10, 13, -33, -16},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(dlu_to_px_x(c.dlu, c.base), c.px_x) << c.dlu << " x " << c.base;
        EXPECT_EQ(dlu_to_px_y(c.dlu, c.base), c.px_y) << c.dlu << " x " << c.base;
    }
}

TEST(DialogUnits, AverageCharWidthIsTheAlphabetOverFiftyTwoRounded)
{
    EXPECT_EQ(average_char_width(312), 6); // exactly 6
    EXPECT_EQ(average_char_width(337), 6); // 6.48
    EXPECT_EQ(average_char_width(338), 7); // 6.5
    EXPECT_EQ(average_char_width(364), 7);
    EXPECT_EQ(average_char_width(0), 1);   // never zero: it divides the layout
}

TEST(DialogText, AmpersandsBecomeGtkMnemonics)
{
    EXPECT_EQ(dialog_text_to_gtk("OK"), "OK");
    EXPECT_EQ(dialog_text_to_gtk("&About"), "_About");
    EXPECT_EQ(dialog_text_to_gtk("Salt && pepper"), "Salt & pepper");
    EXPECT_EQ(dialog_text_to_gtk("snake_case"), "snake__case");
    EXPECT_EQ(dialog_text_to_gtk("dangling&"), "dangling");
}
