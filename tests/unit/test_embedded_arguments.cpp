// What the program's entry makes of its arguments: the screen saver daemons' words taken as whole
// arguments only, everything else handed to the launcher's scan exactly as before; and the session
// commands (--idle SECONDS, --allow-screenshots).
#include <gtest/gtest.h>

#include "arguments.h"
#include "session_commands.h"
#include "ssaver.h"

#include <dirent.h>
#include <glib.h>

#include <fstream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
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
    platform::EntryArguments::Request request = platform::EntryArguments::run;
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
    platform::EntryArguments got =
        platform::read_entry_arguments(int(argv.size()), argv.data(), c.xscreensaver_window, fake_root);
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
        EntryCase{{"--window-id", "9", "-fps"}, nullptr, "/p 9", SS_MODE_PREVIEW, 9, true},
        // The host's switches are taken out whole, values and all: a path is never scanned for switches.
        EntryCase{{"--image", "/home/u/sea.png", "--speed", "5"}, nullptr, "", SS_MODE_CONFIG, 0, false},
        EntryCase{{"/s", "-image", "/pics/lake.jpg", "--no-lighting"}, nullptr, "/s", SS_MODE_SAVER, 0, false},
        EntryCase{{"--texture-size", "512", "--root"}, "0x40", "/p 64", SS_MODE_PREVIEW, 0x40, true},
        EntryCase{{"--speed", "/s"}, nullptr, "", SS_MODE_CONFIG, 0, false},
        EntryCase{{"--speedy", "/c"}, nullptr, "--speedy /c", SS_MODE_CONFIG, 0, false},
        // A preview switch ending the other arguments does not take the window's handle away.
        EntryCase{{"-p", "--window-id", "0x123"}, nullptr, "-p  /p 291", SS_MODE_PREVIEW, 0x123, true},
        EntryCase{{"--root", "-L"}, "0x40", "-L  /p 64", SS_MODE_PREVIEW, 0x40, true},
        // The last of the words wins.
        EntryCase{{"--root", "--window-id", "7"}, "77", "/p 7", SS_MODE_PREVIEW, 7, true},
        EntryCase{{"--window-id", "7", "--root"}, "77", "/p 77", SS_MODE_PREVIEW, 77, true},
        // --help, -h and --version as whole words ask for a text, the first of them winning.
        EntryCase{{"--help"}, nullptr, "", SS_MODE_CONFIG, 0, false, platform::EntryArguments::help},
        EntryCase{{"-h"}, nullptr, "", SS_MODE_CONFIG, 0, false, platform::EntryArguments::help},
        EntryCase{{"/s", "--version"}, nullptr, "/s", SS_MODE_SAVER, 0, false, platform::EntryArguments::version},
        EntryCase{{"--version", "-h"}, nullptr, "", SS_MODE_CONFIG, 0, false, platform::EntryArguments::version},
        EntryCase{{"-h", "--root"}, "5", "/p 5", SS_MODE_PREVIEW, 5, true, platform::EntryArguments::help},
        EntryCase{{"--helpx"}, nullptr, "--helpx", SS_MODE_CONFIG, 0, false},
        EntryCase{{"-help"}, nullptr, "-help", SS_MODE_CONFIG, 0, false},
        EntryCase{{"/h"}, nullptr, "/h", SS_MODE_CONFIG, 0, false},
        EntryCase{{"-h5"}, nullptr, "-h5", SS_MODE_CONFIG, 0, false},
        EntryCase{{"/s -h"}, nullptr, "/s -h", SS_MODE_SAVER, 0, false}));

TEST(EntryArguments, RootWindowIsAskedForOnlyWhenNoDaemonWindowIsNamed)
{
    const char *argv[] = {"tidefold", "--root"};
    g_root_asked = 0;
    platform::read_entry_arguments(2, argv, "0x400008", fake_root);
    platform::read_entry_arguments(1, argv, nullptr, fake_root);
    EXPECT_EQ(g_root_asked, 0);
    platform::read_entry_arguments(2, argv, nullptr, fake_root);
    EXPECT_EQ(g_root_asked, 1);
}

// What each host switch sets, the bad values that set nothing and leave a message, and the words
// kept for the savers of the other monitors.
struct HostCase {
    std::vector<const char *> args;
    std::vector<int> numbers; // speed, frequency, texture size, lighting, desktop, double buffer, high quality, fps
    const char *image;
    bool bad;
};

void PrintTo(const HostCase &c, std::ostream *os)
{
    for (size_t i = 0; i < c.args.size(); i++) *os << (i ? " " : "") << '"' << c.args[i] << '"';
}

class HostSwitches : public ::testing::TestWithParam<HostCase> {};

TEST_P(HostSwitches, SetTheirValueInRangeOrLeaveAMessageAndTheStoredValue)
{
    const HostCase &c = GetParam();
    std::vector<const char *> argv = {"tidefold"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    platform::HostSettings h = platform::read_entry_arguments(int(argv.size()), argv.data(), nullptr, fake_root).host;
    EXPECT_EQ((std::vector<int>{h.speed, h.frequency, h.texture_size, h.lighting, h.desktop, h.double_buffer,
                                h.high_quality, int(h.fps)}),
              c.numbers);
    EXPECT_EQ(h.image, c.image);
    EXPECT_EQ(!h.error.empty(), c.bad) << h.error;
    EXPECT_EQ(h.error.find('\n'), std::string::npos) << "a message is one line";
    if (!c.bad) {
        EXPECT_EQ(h.words, std::vector<std::string>(c.args.begin(), c.args.end()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, HostSwitches,
    ::testing::Values(
        HostCase{{"--speed", "1", "--frequency", "500", "--texture-size", "64"}, {1, 500, 64, 0, 0, 0, 0, 0}, "", false},
        HostCase{{"-speed", "30", "-frequency", "1", "-texture-size", "2048"}, {30, 1, 2048, 0, 0, 0, 0, 0}, "", false},
        HostCase{{"--lighting", "--no-desktop", "--single-buffer", "--low-quality", "-fps"},
                 {0, 0, 0, 1, -1, -1, -1, 1}, "", false},
        HostCase{{"--lighting", "--no-lighting", "--fps"}, {0, 0, 0, -1, 0, 0, 0, 1}, "", false},
        HostCase{{"--image", "/pics", "--image", "/more pics/x.png"}, {0, 0, 0, 0, 0, 0, 0, 0}, "/more pics/x.png", false},
        HostCase{{"--image", ""}, {0, 0, 0, 0, 0, 0, 0, 0}, "", false},
        // Out of range, not a plain number, not a power of two, or missing: nothing set.
        HostCase{{"--speed", "0"}, {0, 0, 0, 0, 0, 0, 0, 0}, "", true},
        HostCase{{"--speed", "31", "--frequency", "9"}, {0, 9, 0, 0, 0, 0, 0, 0}, "", true},
        HostCase{{"--frequency", "501"}, {0, 0, 0, 0, 0, 0, 0, 0}, "", true},
        HostCase{{"--frequency", "+5"}, {0, 0, 0, 0, 0, 0, 0, 0}, "", true},
        HostCase{{"--frequency", "5x"}, {0, 0, 0, 0, 0, 0, 0, 0}, "", true},
        HostCase{{"--speed", " 5"}, {0, 0, 0, 0, 0, 0, 0, 0}, "", true},
        HostCase{{"--texture-size", "600\n\x7f\xff"}, {0, 0, 0, 0, 0, 0, 0, 0}, "", true},
        HostCase{{"--speed", "99999999999999999999"}, {0, 0, 0, 0, 0, 0, 0, 0}, "", true},
        HostCase{{"--texture-size", "1000"}, {0, 0, 0, 0, 0, 0, 0, 0}, "", true},
        HostCase{{"--texture-size", "4096"}, {0, 0, 0, 0, 0, 0, 0, 0}, "", true},
        HostCase{{"--texture-size", "32"}, {0, 0, 0, 0, 0, 0, 0, 0}, "", true},
        HostCase{{"--speed"}, {0, 0, 0, 0, 0, 0, 0, 0}, "", true},
        HostCase{{"--lighting", "--image"}, {0, 0, 0, 1, 0, 0, 0, 0}, "", true}));

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
    EXPECT_EQ(platform::parse_window_id(c.text, &id), c.ok) << c.text;
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

// The entry xscreensaver-settings shows: each element and attribute one that xscreensaver's own
// display modes use (its dialog warns of and skips any other), and each switch it can pass one
// the entry takes whole, at every end of every range and no further.
struct XmlElement {
    std::string name;
    std::map<std::string, std::string> attributes;
};

std::vector<XmlElement> parse_xml(const std::string &path, std::string *error)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<XmlElement> out;
    GMarkupParser parser = {};
    parser.start_element = [](GMarkupParseContext *, const gchar *name, const gchar **keys, const gchar **values,
                              gpointer data, GError **) {
        XmlElement e{name, {}};
        for (int i = 0; keys[i]; i++) e.attributes[keys[i]] = values[i];
        static_cast<std::vector<XmlElement> *>(data)->push_back(e);
    };
    GMarkupParseContext *context = g_markup_parse_context_new(&parser, GMarkupParseFlags(0), &out, nullptr);
    GError *e = nullptr;
    std::string body = text.str();
    if (!g_markup_parse_context_parse(context, body.data(), gssize(body.size()), &e) ||
        !g_markup_parse_context_end_parse(context, &e))
        *error = e ? e->message : "no document";
    if (e) g_error_free(e);
    g_markup_parse_context_free(context);
    return out;
}

// The host settings the entry makes of --root and one switch as xscreensaver-settings would pass it.
platform::HostSettings passed(const std::string &arg, const std::string &value, std::string *left)
{
    std::vector<std::string> words = {"tidefold", "--root"};
    std::istringstream in(arg);
    for (std::string w; in >> w;) words.push_back(w == "%" ? value : w);
    std::vector<const char *> argv;
    for (const std::string &w : words) argv.push_back(w.c_str());
    platform::EntryArguments got = platform::read_entry_arguments(int(argv.size()), argv.data(), "0x40", fake_root);
    *left = got.command_line;
    return got.host;
}

TEST(XScreenSaverEntry, UsesOnlyXScreenSaversOwnVocabularyAndEverySwitchItPassesIsTakenInRange)
{
    const std::string config = "/usr/share/xscreensaver/config";
    std::map<std::string, std::set<std::string>> vocabulary;
    DIR *dir = opendir(config.c_str());
    ASSERT_NE(dir, nullptr) << config << ": xscreensaver is not installed (tools/deps.sh test)";
    while (dirent *d = readdir(dir)) {
        std::string name = d->d_name;
        if (name.size() < 5 || name.compare(name.size() - 4, 4, ".xml") != 0) continue;
        std::string error;
        for (const XmlElement &e : parse_xml(config + "/" + name, &error))
            for (const auto &kv : e.attributes) vocabulary[e.name].insert(kv.first);
        for (const char *tag : {"hgroup", "vgroup", "xscreensaver-image", "_description"}) vocabulary[tag];
    }
    closedir(dir);

    std::string error;
    std::vector<XmlElement> ours = parse_xml(std::string(TIDEFOLD_SOURCE_DIR) + "/packaging/tidefold.xml", &error);
    ASSERT_EQ(error, "");
    int switches = 0;
    for (const XmlElement &e : ours) {
        SCOPED_TRACE(e.name);
        ASSERT_TRUE(vocabulary.count(e.name)) << "xscreensaver's own entries have no <" << e.name << ">";
        for (const auto &kv : e.attributes)
            EXPECT_TRUE(vocabulary[e.name].count(kv.first)) << "no " << kv.first << "= on <" << e.name << ">";
        std::string left;
        for (const char *key : {"arg-set", "arg-unset"}) {
            if (!e.attributes.count(key)) continue;
            platform::HostSettings h = passed(e.attributes.at(key), "", &left);
            EXPECT_EQ(left, "/p 64") << e.attributes.at(key) << " is not taken whole";
            EXPECT_EQ(h.error, "");
            switches++;
        }
        if (e.name == "number") {
            const std::string arg = e.attributes.at("arg");
            int low = std::stoi(e.attributes.at("low")), high = std::stoi(e.attributes.at("high"));
            int fallback = std::stoi(e.attributes.at("default"));
            EXPECT_LE(low, fallback);
            EXPECT_LE(fallback, high);
            for (int v : {low, fallback, high}) {
                EXPECT_EQ(passed(arg, std::to_string(v), &left).error, "") << arg << " " << v;
                EXPECT_EQ(left, "/p 64");
            }
            EXPECT_NE(passed(arg, std::to_string(low - 1), &left).error, "") << "the slider stops short of " << arg;
            EXPECT_NE(passed(arg, std::to_string(high + 1), &left).error, "") << "the slider stops short of " << arg;
            switches++;
        }
        if (e.name == "file") {
            EXPECT_EQ(passed(e.attributes.at("arg"), "/home/u/My Pictures/s.png", &left).image,
                      "/home/u/My Pictures/s.png");
            EXPECT_EQ(left, "/p 64");
            switches++;
        }
    }
    EXPECT_EQ(switches, 13) << "two sliders, five texture sizes, five check boxes and the picture";
}

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
