// The four settings and their key in the per-user store: defaults, loading, saving.
#include "ripple.h"
#include "test_registry_support.h"

#include <gtest/gtest.h>

#include <random>

namespace {

const char kGroupLine[] = "[HKEY_CURRENT_USER\\Software\\Brindlewick Productions\\Tidefold Screen Saver]\n";

class Settings : public TempConfigHome {
protected:
    void SetUp() override
    {
        TempConfigHome::SetUp();
        saved_ = {user_options, max_texture_size, ripple_speed, ripple_freq};
        set_defaults();
    }
    void TearDown() override
    {
        user_options = saved_[0];
        max_texture_size = saved_[1];
        ripple_speed = saved_[2];
        ripple_freq = saved_[3];
        TempConfigHome::TearDown();
    }
    static void set_defaults()
    {
        user_options = 22;
        max_texture_size = 1024;
        ripple_speed = 20;
        ripple_freq = 10;
    }
    static std::vector<int> current() { return {user_options, max_texture_size, ripple_speed, ripple_freq}; }

private:
    std::vector<int> saved_;
};

TEST_F(Settings, FirstRunWithoutAKeyKeepsTheDefaultsAndWritesNothing)
{
    LoadConfig();
    EXPECT_EQ(current(), (std::vector<int>{22, 1024, 20, 10}));
    EXPECT_FALSE(std::filesystem::exists(store_path()));
}

TEST_F(Settings, AKeyHoldingOnlyRippleSpeedLoadsJustThat)
{
    write_file(store_path(), std::string(kGroupLine) + "ripple_speed=dword:00000005\n");
    LoadConfig();
    EXPECT_EQ(current(), (std::vector<int>{22, 1024, 5, 10}));
}

TEST_F(Settings, AValueThatIsNotFourBytesLeavesItsSettingAlone)
{
    write_file(store_path(), std::string(kGroupLine) + "ripple_freq=hex:01,02,03,04,05,06,07,08\n" +
                                 "flags=dword:00000001\n");
    LoadConfig();
    EXPECT_EQ(current(), (std::vector<int>{1, 1024, 20, 10}));
}

TEST_F(Settings, SavingTheDefaultsWritesFourDwordsInOrder)
{
    SaveConfig();
    HKEY h = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, TIDEFOLD_REGISTRY_KEY, 0, KEY_READ, &h), ERROR_SUCCESS);
    const std::pair<const char *, DWORD> expected[] = {
        {"flags", 22}, {"max_texture_size", 1024}, {"ripple_speed", 20}, {"ripple_freq", 10}};
    for (const auto &e : expected) {
        DWORD v = 0, type = 0, size = 4;
        EXPECT_EQ(RegQueryValueExA(h, e.first, nullptr, &type, (LPBYTE)&v, &size), ERROR_SUCCESS) << e.first;
        EXPECT_EQ(type, (DWORD)REG_DWORD) << e.first;
        EXPECT_EQ(size, 4u) << e.first;
        EXPECT_EQ(v, e.second) << e.first;
    }
    RegCloseKey(h);

    std::string text = read_file(store_path());
    size_t flags = text.find("\nflags=dword:00000016");
    size_t size = text.find("\nmax_texture_size=dword:00000400");
    size_t speed = text.find("\nripple_speed=dword:00000014");
    size_t freq = text.find("\nripple_freq=dword:0000000a");
    ASSERT_NE(freq, std::string::npos) << text;
    EXPECT_LT(flags, size);
    EXPECT_LT(size, speed);
    EXPECT_LT(speed, freq);
}

TEST_F(Settings, SavedValuesLoadBackUnchecked)
{
    const std::vector<std::vector<int>> cases = {
        {22, 1024, 20, 10}, {0x1F, 64, 1, 500}, {0, 2048, 30, 1}, {-1, 1000, 0, -7}, {0x7FFFFFFF, -2048, 99999, 0}};
    for (const auto &c : cases) {
        user_options = c[0];
        max_texture_size = c[1];
        ripple_speed = c[2];
        ripple_freq = c[3];
        SaveConfig();
        set_defaults();
        ripple_speed = 12345;
        LoadConfig();
        EXPECT_EQ(current(), c);
    }
}

TEST_F(Settings, ACorruptedFileLoadsDefaultsQuietlyAndASaveRepairsIt)
{
    std::mt19937 gen(7);
    std::string junk(2000, '\0');
    for (char &c : junk) c = (char)(gen() & 0xff);
    write_file(store_path(), junk);

    OutputCapture capture;
    LoadConfig();
    EXPECT_EQ(capture.finish(), "");
    EXPECT_EQ(current(), (std::vector<int>{22, 1024, 20, 10}));
    EXPECT_EQ(read_file(store_path()), junk);

    ripple_freq = 250;
    SaveConfig();
    EXPECT_TRUE(loads_as_key_file(read_file(store_path())));
    set_defaults();
    LoadConfig();
    EXPECT_EQ(current(), (std::vector<int>{22, 1024, 20, 250}));
}

} // namespace
