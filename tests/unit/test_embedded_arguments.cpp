// What the program's entry makes of its arguments: the screen saver daemons' words taken as whole
// arguments only, everything else handed to the launcher's scan exactly as before; and the session
// commands (--idle SECONDS, --allow-screenshots).
#include <gtest/gtest.h>

#include "embed.h"
#include "session_commands.h"
#include "ssaver.h"

#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr unsigned long kRoot = 0x2a;
int g_root_asked = 0;
unsigned long fake_root()
{
    g_root_asked++;
    return kRoot;
}

struct EntryCase {
    std::vector<const char *> args; // after the program name
    const char *xscreensaver_window;
    const char *command_line;       // what WinMain gets
    int mode;                       // what the launcher's scan makes of it
    unsigned long parent;           // the window drawn into, for the preview and embedded runs
    bool embedded;
    x11::EntryArguments::Request request = x11::EntryArguments::run;
};

// Names the case by its arguments, so each one is readable in test listings.
void PrintTo(const EntryCase &c, std::ostream *os)
{
    *os << '"';
    for (size_t i = 0; i < c.args.size(); i++) *os << (i ? " " : "") << c.args[i];
    *os << '"';
    if (c.xscreensaver_window) *os << " XSCREENSAVER_WINDOW=\"" << c.xscreensaver_window << '"';
}

class EntryArgumentsTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(EntryArgumentsTest, DaemonWordsBecomeAPreviewInTheirWindowAndAllElsePassesUnchanged)
{
    const EntryCase &c = GetParam();
    std::vector<const char *> argv = {"tidefold"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    x11::EntryArguments got =
        x11::read_entry_arguments(int(argv.size()), argv.data(), c.xscreensaver_window, fake_root);
    EXPECT_EQ(got.command_line, c.command_line);
    EXPECT_EQ(got.embedded, c.embedded);
    EXPECT_EQ(got.request, c.request);
    if (c.embedded) {
        EXPECT_EQ(got.window, c.parent);
    }

    ss_mode = SS_MODE_CONFIG;
    ss_scan_command_line(got.command_line.c_str());
    EXPECT_EQ(ss_mode, c.mode);
    if (c.mode == SS_MODE_PREVIEW) {
        EXPECT_EQ((unsigned long)(uintptr_t)ss_invoked_parent(), c.parent);
    }
    ss_mode = SS_MODE_CONFIG;
}

INSTANTIATE_TEST_SUITE_P(
    Words, EntryArgumentsTest,
    ::testing::Values(
        // Not the daemon's words: joined by single blanks, scanned as always.
        EntryCase{{}, nullptr, "", SS_MODE_CONFIG, 0, false},
        EntryCase{{"/s"}, "0x400008", "/s", SS_MODE_SAVER, 0, false},
        EntryCase{{"/p", "1234"}, nullptr, "/p 1234", SS_MODE_PREVIEW, 1234, false},
        EntryCase{{"-r"}, nullptr, "-r", SS_MODE_CONFIG, 0, false},
        EntryCase{{"-rootx"}, nullptr, "-rootx", SS_MODE_CONFIG, 0, false},
        EntryCase{{"x-root"}, nullptr, "x-root", SS_MODE_CONFIG, 0, false},
        EntryCase{{"/root"}, nullptr, "/root", SS_MODE_CONFIG, 0, false},
        EntryCase{{"--Root"}, nullptr, "--Root", SS_MODE_CONFIG, 0, false},
        EntryCase{{"-s", "--window-id=5"}, nullptr, "-s --window-id=5", SS_MODE_SAVER, 0, false},
        EntryCase{{"/s -root"}, nullptr, "/s -root", SS_MODE_SAVER, 0, false},
        // --root: the daemon's window from the environment, in hex or decimal, else the root.
        EntryCase{{"--root"}, "0x400008", "/p 4194312", SS_MODE_PREVIEW, 0x400008, true},
        EntryCase{{"-root"}, "4194312", "/p 4194312", SS_MODE_PREVIEW, 0x400008, true},
        EntryCase{{"-root"}, "0X1C00007", "/p 29360135", SS_MODE_PREVIEW, 0x1c00007, true},
        EntryCase{{"--root"}, nullptr, "/p 42", SS_MODE_PREVIEW, kRoot, true},
        EntryCase{{"--root"}, "", "/p 42", SS_MODE_PREVIEW, kRoot, true},
        EntryCase{{"--root"}, "window", "/p 42", SS_MODE_PREVIEW, kRoot, true},
        // --window-id ID: the id in hex or decimal; a missing or bad one names no window.
        EntryCase{{"--window-id", "0x1c00007"}, nullptr, "/p 29360135", SS_MODE_PREVIEW, 0x1c00007, true},
        EntryCase{{"-window-id", "29360135"}, "0x400008", "/p 29360135", SS_MODE_PREVIEW, 0x1c00007, true},
        EntryCase{{"--window-id"}, nullptr, "/p 0", SS_MODE_PREVIEW, 0, true},
        EntryCase{{"--window-id", "/s"}, nullptr, "/p 0", SS_MODE_PREVIEW, 0, true},
        // Other arguments stay, before the preview switch, which therefore wins.
        EntryCase{{"/s", "--root", "/c"}, "77", "/s /c  /p 77", SS_MODE_PREVIEW, 77, true},
        EntryCase{{"--window-id", "9", "-fps"}, nullptr, "-fps  /p 9", SS_MODE_PREVIEW, 9, true},
        // A preview switch ending the other arguments does not take the window's handle away.
        EntryCase{{"-p", "--window-id", "0x123"}, nullptr, "-p  /p 291", SS_MODE_PREVIEW, 0x123, true},
        EntryCase{{"--root", "-L"}, "0x40", "-L  /p 64", SS_MODE_PREVIEW, 0x40, true},
        // The last of the words wins.
        EntryCase{{"--root", "--window-id", "7"}, "77", "/p 7", SS_MODE_PREVIEW, 7, true},
        EntryCase{{"--window-id", "7", "--root"}, "77", "/p 77", SS_MODE_PREVIEW, 77, true},
        // --help, -h and --version as whole words ask for a text, the first of them winning.
        EntryCase{{"--help"}, nullptr, "", SS_MODE_CONFIG, 0, false, x11::EntryArguments::help},
        EntryCase{{"-h"}, nullptr, "", SS_MODE_CONFIG, 0, false, x11::EntryArguments::help},
        EntryCase{{"/s", "--version"}, nullptr, "/s", SS_MODE_SAVER, 0, false, x11::EntryArguments::version},
        EntryCase{{"--version", "-h"}, nullptr, "", SS_MODE_CONFIG, 0, false, x11::EntryArguments::version},
        EntryCase{{"-h", "--root"}, "5", "/p 5", SS_MODE_PREVIEW, 5, true, x11::EntryArguments::help},
        EntryCase{{"--helpx"}, nullptr, "--helpx", SS_MODE_CONFIG, 0, false},
        EntryCase{{"-help"}, nullptr, "-help", SS_MODE_CONFIG, 0, false},
        EntryCase{{"/h"}, nullptr, "/h", SS_MODE_CONFIG, 0, false},
        EntryCase{{"-h5"}, nullptr, "-h5", SS_MODE_CONFIG, 0, false},
        EntryCase{{"/s -h"}, nullptr, "/s -h", SS_MODE_SAVER, 0, false}));

TEST(EntryArguments, RootWindowIsAskedForOnlyWhenNoDaemonWindowIsNamed)
{
    const char *argv[] = {"tidefold", "--root"};
    g_root_asked = 0;
    x11::read_entry_arguments(2, argv, "0x400008", fake_root);
    x11::read_entry_arguments(1, argv, nullptr, fake_root);
    EXPECT_EQ(g_root_asked, 0);
    x11::read_entry_arguments(2, argv, nullptr, fake_root);
    EXPECT_EQ(g_root_asked, 1);
}

struct IdCase {
    const char *text;
    bool ok;
    unsigned long id;
};

void PrintTo(const IdCase &c, std::ostream *os) { *os << '"' << c.text << '"'; }

class WindowIdText : public ::testing::TestWithParam<IdCase> {};

TEST_P(WindowIdText, HexWithPrefixOrDecimalWholeAndWithin32Bits)
{
    const IdCase &c = GetParam();
    unsigned long id = 12345;
    EXPECT_EQ(x11::parse_window_id(c.text, &id), c.ok) << c.text;
    EXPECT_EQ(id, c.ok ? c.id : 12345ul) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Ids, WindowIdText,
    ::testing::Values(IdCase{"0x400008", true, 0x400008}, IdCase{"0XaBcD", true, 0xabcd}, IdCase{"4194312", true, 4194312},
                      IdCase{"0xffffffff", true, 0xffffffffu}, IdCase{"4294967295", true, 4294967295u},
                      IdCase{"010", true, 10}, IdCase{"0x100000000", false, 0}, IdCase{"4294967296", false, 0},
                      IdCase{"0", false, 0}, IdCase{"0x0", false, 0}, IdCase{"", false, 0}, IdCase{"0x", false, 0},
                      IdCase{"12ab", false, 0}, IdCase{"ab", false, 0}, IdCase{" 12", false, 0},
                      IdCase{"12 ", false, 0}, IdCase{"-5", false, 0}, IdCase{"+5", false, 0},
                      IdCase{"99999999999999999999999", false, 0}));

} // namespace

namespace {

// The session commands, whole arguments anywhere; --idle takes whole seconds from 1 to a day.
TEST(SessionCommandArguments, IdleTakesWholeSecondsFromOneToADayAndAllowScreenshotsIsAWord)
{
    using platform::SessionCommand;
    struct Case { std::vector<const char *> args; SessionCommand::Kind kind; unsigned seconds; bool error; };
    const Case cases[] = {
        {{"/s"}, SessionCommand::none, 0, false},
        {{"--idle", "300"}, SessionCommand::idle, 300, false},
        {{"/c", "--idle", "1"}, SessionCommand::idle, 1, false},
        {{"--idle", "86400"}, SessionCommand::idle, 86400, false},
        {{"--idle"}, SessionCommand::idle, 0, true},
        {{"--idle", "0"}, SessionCommand::idle, 0, true},
        {{"--idle", "86401"}, SessionCommand::idle, 0, true},
        {{"--idle", "3x"}, SessionCommand::idle, 0, true},
        {{"--idle", "-3"}, SessionCommand::idle, 0, true},
        {{"--idle", "99999999999999999999999"}, SessionCommand::idle, 0, true},
        {{"--allow-screenshots"}, SessionCommand::allow_screenshots, 0, false},
        {{"--allow-screenshotsx", "-idle", "3"}, SessionCommand::none, 0, false},
    };
    for (const Case &c : cases) {
        std::vector<const char *> argv = {"tidefold"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(testing::PrintToString(std::vector<std::string>(argv.begin(), argv.end())));
        const SessionCommand command = platform::read_session_command(int(argv.size()), argv.data());
        EXPECT_EQ(command.kind, c.kind);
        EXPECT_EQ(command.error.empty(), !c.error) << command.error;
        if (!c.error) {
            EXPECT_EQ(command.idle_seconds, c.seconds);
        }
    }
}

} // namespace
