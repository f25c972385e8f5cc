// The four settings and their key in the per-user store: defaults, loading, saving, and a settings
// file damaged in every way we could think of.
#include "ripple.h"
#include "test_registry_support.h"

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

} // namespace
