// The four settings and their key in the per-user store: defaults, loading, saving, and a settings
// file damaged in every way we could think of.
#include "desktop_picture.h"
#include "host_settings.h"
#include "ripple.h"
#include "test_registry_support.h"
#include "xscreensaver_prefs.h"

#include <sys/inotify.h>
#include <sys/stat.h>

#include <random>

namespace {

const std::string kGroupLine = "[HKEY_CURRENT_USER\\Software\\Brindlewick Productions\\Tidefold Screen Saver]\n";
const std::vector<int> kDefaults = {22, 1024, 20, 10};

class Settings : public TempConfigHome {
protected:
    void SetUp() override
    {
        TempConfigHome::SetUp();
        saved_ = current();
        set(kDefaults);
    }
    void TearDown() override
    {
        set(saved_);
        TempConfigHome::TearDown();
    }
    static void set(const std::vector<int> &v)
    {
        user_options = v[0], max_texture_size = v[1], ripple_speed = v[2], ripple_freq = v[3];
    }
    static std::vector<int> current() { return {user_options, max_texture_size, ripple_speed, ripple_freq}; }

private:
    std::vector<int> saved_;
};

TEST_F(Settings, AKeyHoldingOnlyRippleSpeedLoadsJustThat)
{
    write_store(kGroupLine + "ripple_speed=dword:00000005\n");
    LoadConfig();
    EXPECT_EQ(current(), (std::vector<int>{22, 1024, 5, 10}));
}

TEST_F(Settings, AValueThatIsNotFourBytesLeavesItsSettingAlone)
{
    write_store(kGroupLine + "ripple_freq=hex:01,02,03,04,05,06,07,08\nflags=dword:00000001\n");
    LoadConfig();
    EXPECT_EQ(current(), (std::vector<int>{1, 1024, 20, 10}));
}

TEST_F(Settings, SavedDefaultsAreFourDwordsInTheFileAsEightHexDigits)
{
    SaveConfig();
    const std::string text = read_file(store_path());
    for (const char *line : {"\nflags=dword:00000016\n", "\nmax_texture_size=dword:00000400\n",
                             "\nripple_speed=dword:00000014\n", "\nripple_freq=dword:0000000a\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    HKEY h = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, TIDEFOLD_REGISTRY_KEY, 0, KEY_READ, &h), ERROR_SUCCESS);
    const char *names[] = {"flags", "max_texture_size", "ripple_speed", "ripple_freq"};
    for (int i = 0; i < 4; i++) {
        DWORD v = 0, type = 0, size = 4;
        EXPECT_EQ(RegQueryValueExA(h, names[i], nullptr, &type, (LPBYTE)&v, &size), ERROR_SUCCESS) << names[i];
        EXPECT_EQ(type, (DWORD)REG_DWORD) << names[i];
        EXPECT_EQ(size, 4u) << names[i];
        EXPECT_EQ((int)v, kDefaults[i]) << names[i];
    }
    RegCloseKey(h);
}

// The picture source sits beside the four values as a string the dialog never writes; --image
// wins over it for the run.
TEST_F(Settings, ImagePathSurvivesTheDialogsSaveAndTheCommandLineWinsOverIt)
{
    write_store(kGroupLine + "image_path=sz:/home/u/Pictures/lake \\ shore.png\nflags=dword:00000001\n");
    LoadConfig();
    SaveConfig();
    EXPECT_EQ(platform::picture_source(), "/home/u/Pictures/lake \\ shore.png") << read_file(store_path());
    platform::host_settings().image = "/tmp/sea.jpg";
    EXPECT_EQ(platform::picture_source(), "/tmp/sea.jpg");
    platform::host_settings() = platform::HostSettings();
    write_store(kGroupLine + "image_path=sz:~/Pictures\n");
    EXPECT_EQ(platform::picture_source(), std::string(getenv("HOME")) + "/Pictures");
    write_store(kGroupLine + "image_path=dword:00000001\n");
    EXPECT_EQ(platform::picture_source(), "") << "a value that is not a string is no path";
}

TEST_F(Settings, SavedValuesLoadBackUnchecked)
{
    for (const std::vector<int> &c : std::vector<std::vector<int>>{
             {22, 1024, 20, 10}, {0x1F, 64, 1, 500}, {-1, 1000, 0, -7}, {0x7FFFFFFF, -2048, 99999, 0}}) {
        set(c);
        SaveConfig();
        set({0, 0, 12345, 0});
        LoadConfig();
        EXPECT_EQ(current(), c);
    }
}

// A damaged settings file. flags=1 stands before the damage in the files that have a group at
// all; it must load when the row says it survives, and everything else keeps its default.
struct Damage {
    const char *name;
    std::string content; // "<missing>" for no file, "<directory>" for one that cannot be read
    bool flags_survive;
};

void PrintTo(const Damage &d, std::ostream *os) { *os << d.name; }

std::vector<Damage> damages()
{
    std::mt19937 gen(12345);
    std::string junk(4096, '\0');
    for (char &c : junk) c = (char)(gen() & 0xff);
    // Another program's group in front, which a save must keep whenever it was readable.
    const std::string head = "[HKEY_CURRENT_USER\\Software\\Other]\nkeep=dword:00000007\n" + kGroupLine +
                             "flags=dword:00000001\n";
    return {
        {"missing", "<missing>", false},
        {"unreadable", "<directory>", false},
        {"truncated_in_a_value", head + "ripple_speed=dword:000", true},
        {"truncated_in_a_name", head + "ripple_sp", true},
        {"truncated_in_the_header", "[HKEY_CURRENT_USER\\Software\\Brindlewick Pro", false},
        {"random_binary", junk, false},
        {"not_a_key_file", "This is a shopping list.\nEggs, flour\n", false},
        {"value_dword_zz", head + "ripple_speed=dword:zz\n", true},
        {"value_abc", head + "ripple_speed=abc\n", true},
        {"dword_out_of_range", head + "ripple_speed=dword:100000000\n", true},
        {"dword_with_sign", head + "ripple_speed=dword:-0000001\n", true},
        {"broken_header_in_the_middle", head + "[HKEY_CURRENT_USER\\Software\\Else\nripple_speed=dword:00000005\n",
         true},
        {"not_utf8", head + "ripple_speed=\xff\xfe\n", true},
        {"byte_order_mark",
         "\xEF\xBB\xBF" + kGroupLine + "flags=dword:00000001\n[HKEY_CURRENT_USER\\Software\\Other]\nkeep=dword:00000007\n",
         true},
    };
}

class DamagedSettings : public Settings, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedSettings, LoadReadsWhatSurvivesSilentlyAndASaveGivesAWholeFile)
{
    const Damage &d = GetParam();
    const bool missing = d.content == "<missing>", unreadable = d.content == "<directory>";
    if (unreadable) std::filesystem::create_directories(store_path());
    else if (!missing) write_store(d.content);

    OutputCapture capture;
    LoadConfig();
    EXPECT_EQ(capture.finish(), "");
    EXPECT_EQ(current(), (std::vector<int>{d.flags_survive ? 1 : 22, 1024, 20, 10}));
    if (missing) {
        EXPECT_FALSE(std::filesystem::exists(store_path())) << "loading writes nothing";
    } else if (unreadable) {
        EXPECT_TRUE(std::filesystem::is_directory(store_path()));
    } else {
        EXPECT_EQ(read_file(store_path()), d.content) << "loading leaves the file as it was";
    }

    ripple_freq = 250;
    OutputCapture save_capture;
    SaveConfig();
    EXPECT_EQ(save_capture.finish(), "");
    if (unreadable) {
        EXPECT_TRUE(std::filesystem::is_directory(store_path())) << "what could not be read is never replaced";
        return;
    }
    const std::string text = read_file(store_path());
    EXPECT_TRUE(loads_as_key_file(text)) << text;
    if (d.flags_survive) {
        EXPECT_NE(text.find("keep=dword:00000007"), std::string::npos) << text;
    }
    set(kDefaults);
    LoadConfig();
    EXPECT_EQ(current(), (std::vector<int>{d.flags_survive ? 1 : 22, 1024, 20, 250}));
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedSettings, ::testing::ValuesIn(damages()),
                         [](const ::testing::TestParamInfo<Damage> &info) { return std::string(info.param.name); });

// Counts the opens of registry.ini while body runs.
int opens_of_store_during(const std::string &dir, const std::function<void()> &body)
{
    int fd = inotify_init1(IN_NONBLOCK);
    if (fd < 0) return -1;
    int opens = inotify_add_watch(fd, dir.c_str(), IN_OPEN) < 0 ? -1 : 0;
    if (opens == 0) body();
    alignas(inotify_event) char buf[8192];
    for (ssize_t n; opens >= 0 && (n = read(fd, buf, sizeof buf)) > 0;) {
        for (char *p = buf; p < buf + n;) {
            const inotify_event *e = (const inotify_event *)p;
            if (e->len && std::string(e->name) == "registry.ini") opens++;
            p += sizeof(inotify_event) + e->len;
        }
    }
    close(fd);
    return opens;
}

TEST_F(Settings, LoadAndSaveEachReadTheFileOnce)
{
    write_store(kGroupLine + "ripple_speed=dword:00000005\nflags=dword:00000001\n");
    EXPECT_EQ(opens_of_store_during(store_dir(), LoadConfig), 1);
    EXPECT_EQ(current(), (std::vector<int>{1, 1024, 5, 10}));
    EXPECT_EQ(opens_of_store_during(store_dir(), [] { EXPECT_EQ(SaveConfig(), ERROR_SUCCESS); }), 1);
}

// A path in place of the settings file, made by make(path) in the configuration folder.
struct SettingsPath {
    const char *name;
    std::function<void(const std::string &path)> make;
    std::vector<int> loads;      // the settings LoadConfig gives
    const char *save_failure;    // the system's reason a save fails, "" when it succeeds
    const char *warning = "";    // what is printed on loading
    uid_t as_user = 0;           // 0: the test's own user
};

void PrintTo(const SettingsPath &p, std::ostream *os) { *os << p.name; }

const uid_t kNobody = 65534;

std::string settings_with_flags_1(size_t size)
{
    std::string text = kGroupLine + "flags=dword:00000001\n";
    const std::string filler = "# " + std::string(97, 'x') + "\n";
    while (text.size() + filler.size() <= size) text += filler;
    return text + std::string(size - text.size() - 1, '#') + "\n";
}

std::vector<SettingsPath> settings_paths()
{
    auto write = [](const std::string &text) {
        return [text](const std::string &path) { std::ofstream(path, std::ios::binary) << text; };
    };
    const std::vector<int> flags_1 = {1, 1024, 20, 10};
    return {
        {"link_to_dev_zero", [](const std::string &p) { (void)!symlink("/dev/zero", p.c_str()); }, kDefaults,
         "Not a regular file"},
        {"fifo", [](const std::string &p) { mkfifo(p.c_str(), 0600); }, kDefaults, "Not a regular file"},
        {"folder", [](const std::string &p) { std::filesystem::create_directory(p); }, kDefaults, "Is a directory"},
        {"link_to_itself", [](const std::string &p) { (void)!symlink("registry.ini", p.c_str()); }, kDefaults,
         "Too many levels of symbolic links"},
        {"unreadable_file",
         [](const std::string &p) {
             std::ofstream(p) << kGroupLine << "flags=dword:00000001\n";
             chmod(p.c_str(), 0);
         },
         kDefaults, "Permission denied", "", kNobody},
        {"in_a_read_only_folder",
         [](const std::string &p) {
             std::ofstream(p) << kGroupLine << "flags=dword:00000001\n";
             chmod(p.substr(0, p.rfind('/')).c_str(), 0500);
         },
         flags_1, "Permission denied", "", kNobody},
        {"of_exactly_1_MiB", write(settings_with_flags_1(1 << 20)), flags_1, ""},
        {"over_1_MiB", write(settings_with_flags_1((1 << 20) + 1)), kDefaults, "Larger than 1 MiB",
         "is larger than 1 MiB and taken as damaged; using the default settings\n"},
    };
}

// What a path looks like from outside: its kind, its link's target and its contents.
std::string outside_of(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return "missing";
    std::string seen = std::to_string(st.st_mode);
    if (S_ISLNK(st.st_mode)) seen += " -> " + std::filesystem::read_symlink(path).string();
    if (S_ISREG(st.st_mode)) seen += " " + read_file(path);
    return seen;
}

class SettingsPaths : public Settings, public ::testing::WithParamInterface<SettingsPath> {};

// Whatever stands at the settings path, loading gives the defaults at once and nothing else is
// read; a save that cannot be made is reported with the file and the system's reason and
// changes nothing.
TEST_P(SettingsPaths, LoadGivesTheDefaultsAtOnceAndAFailedSaveSaysWhyAndChangesNothing)
{
    const SettingsPath &p = GetParam();
    std::filesystem::create_directories(store_dir());
    p.make(store_path());
    if (p.as_user) {
        ASSERT_EQ(chown(home().c_str(), p.as_user, p.as_user), 0);
        for (const auto &e : std::filesystem::recursive_directory_iterator(home()))
            ASSERT_EQ(lchown(e.path().c_str(), p.as_user, p.as_user), 0);
    }
    const std::string before = outside_of(store_path());

    ChildRun run = run_bounded(
        [] {
            OutputCapture capture;
            LoadConfig();
            std::vector<int> loaded = current();
            ripple_freq = 250;
            LSTATUS status = SaveConfig();
            std::ostringstream report;
            for (int v : loaded) report << v << ' ';
            report << "| " << (status == ERROR_SUCCESS ? "saved" : registry_failure_reason()) << " | "
                   << (status == ERROR_SUCCESS ? "" : registry_failed_file()) << " | " << capture.finish();
            return report.str();
        },
        p.as_user);
    ASSERT_EQ(run.status, 0) << "the child hung, ran out of memory or failed: " << run.output;
    EXPECT_LT(run.memory_growth_kib, 64 << 10) << "loading and saving never take more than a few copies of 1 MiB";

    std::ostringstream want;
    for (int v : p.loads) want << v << ' ';
    bool saves = !*p.save_failure;
    want << "| " << (saves ? "saved" : p.save_failure) << " | " << (saves ? "" : store_path());
    EXPECT_EQ(run.output.substr(0, want.str().size()), want.str()) << run.output;
    std::string printed = run.output.substr(run.output.rfind(" | ") + 3);
    if (*p.warning) {
        EXPECT_EQ(printed, "tidefold: " + store_path() + " " + p.warning);
    } else {
        EXPECT_EQ(printed, "");
    }
    if (!saves) {
        EXPECT_EQ(outside_of(store_path()), before);
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(store_dir())) names.push_back(e.path().filename());
        EXPECT_EQ(names, std::vector<std::string>{"registry.ini"}) << "no temporary file is left";
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, SettingsPaths, ::testing::ValuesIn(settings_paths()),
                         [](const ::testing::TestParamInfo<SettingsPath> &info) { return std::string(info.param.name); });

// xscreensaver's image settings, read as the daemon reads them: the user's file over the
// app-defaults, and nothing allowed that neither file allows.
struct XssCase {
    const char *name;
    const char *user;         // ~/.xscreensaver, or null for none
    const char *app_defaults; // or null for none
    bool grab, random;
    const char *folder;
};

const char *const kDebianDefaults = "! comment\n*grabDesktopImages:\tFalse\n*grabVideoFrames:\tFalse\n"
                                    "*chooseRandomImages:\tFalse\n*imageDirectory:\t\n";

class XScreenSaverPrefs : public TempConfigHome, public ::testing::WithParamInterface<XssCase> {};

TEST_P(XScreenSaverPrefs, UserFileOverAppDefaultsAndNoPhotographUnlessAllowed)
{
    const XssCase &c = GetParam();
    const std::string user = home() + "/.xscreensaver", app = home() + "/XScreenSaver";
    if (c.user) std::ofstream(user) << c.user;
    if (c.app_defaults) std::ofstream(app) << c.app_defaults;
    platform::XScreenSaverImagePrefs p = platform::read_xscreensaver_image_prefs(user, app, "/home/u");
    EXPECT_EQ(p.grab_desktop, c.grab);
    EXPECT_EQ(p.random_images, c.random);
    EXPECT_EQ(p.image_directory, c.folder);
}

INSTANTIATE_TEST_SUITE_P(
    Files, XScreenSaverPrefs,
    ::testing::Values(
        XssCase{"DebianDefaultsAlone", nullptr, kDebianDefaults, false, false, ""},
        XssCase{"NoFilesAtAll", nullptr, nullptr, false, false, ""},
        XssCase{"UserAllowsTheDesktop", "grabDesktopImages:\tTrue\n", kDebianDefaults, true, false, ""},
        XssCase{"AppDefaultsAllowItUserSaysNo", "grabDesktopImages: off\n", "*grabDesktopImages: True\n", false,
                false, ""},
        XssCase{"AppDefaultsAllowItUserSilent", "mode: one\n", "*grabDesktopImages: yes\n", true, false, ""},
        XssCase{"RandomImagesFromAFolderInTheHome",
                "chooseRandomImages: TRUE\nimageDirectory:  ~/Pictures/sea  \ngrabDesktopImages: False\n",
                kDebianDefaults, false, true, "/home/u/Pictures/sea"},
        // The programs list runs over many lines; none of them is a setting of its own.
        XssCase{"ContinuedLinesAreOneSetting",
                "programs:\t\\\n  GL: tidefold --root \\n\\\n grabDesktopImages: True \\n\\\n\nimageDirectory: /p\n",
                kDebianDefaults, false, false, "/p"},
        XssCase{"UnknownWordsAreFalse", "grabDesktopImages: 1\nchooseRandomImages: sure\n",
                "*grabDesktopImages: True\n", false, false, ""},
        XssCase{"CommentsAndCarriageReturns", "# grabDesktopImages: True\r\n! chooseRandomImages: True\r\n",
                "XScreenSaver.grabDesktopImages:\tTrue\r\n", true, false, ""}),
    [](const ::testing::TestParamInfo<XssCase> &info) { return std::string(info.param.name); });

// A FIFO or a folder in the user file's place means the app-defaults, at once.
TEST_F(XScreenSaverPrefs, AUserFileThatIsNoRegularFileIsNotReadAndNothingHangs)
{
    const std::string user = home() + "/.xscreensaver", app = home() + "/XScreenSaver";
    ASSERT_EQ(mkfifo(user.c_str(), 0600), 0);
    std::ofstream(app) << "*grabDesktopImages: True\n";
    EXPECT_TRUE(platform::read_xscreensaver_image_prefs(user, app, "/h").grab_desktop);
}

} // namespace
