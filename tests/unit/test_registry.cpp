// The per-user store behind the registry calls: key and value semantics, the file it keeps, and
// how it treats a damaged file.
#include "test_registry_support.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;

namespace {

const char kKey[] = "Software\\Brindlewick Productions\\Tidefold Screen Saver";
const char kGroup[] = "HKEY_CURRENT_USER\\Software\\Brindlewick Productions\\Tidefold Screen Saver";

class Registry : public TempConfigHome {};

HKEY create_key(const char *path = kKey)
{
    HKEY h = nullptr;
    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, (LPSTR) "", REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &h, &disposition),
              ERROR_SUCCESS);
    return h;
}

LSTATUS set_dword(HKEY h, const char *name, DWORD v)
{
    return RegSetValueExA(h, name, 0, REG_DWORD, (const BYTE *)&v, sizeof v);
}

// Opens the settings key and reads one DWORD value; false when the key or value is absent.
bool read_dword(const char *name, DWORD *out)
{
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &h) != ERROR_SUCCESS) return false;
    DWORD size = sizeof *out;
    DWORD type = 0;
    LSTATUS r = RegQueryValueExA(h, name, nullptr, &type, (LPBYTE)out, &size);
    RegCloseKey(h);
    return r == ERROR_SUCCESS && type == REG_DWORD && size == 4;
}

TEST_F(Registry, OpeningAMissingKeyFailsAndCreatesNoFile)
{
    OutputCapture capture;
    HKEY h = (HKEY)1;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &h), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(capture.finish(), "");
    EXPECT_FALSE(fs::exists(store_dir()));
}

TEST_F(Registry, CreatingAKeyWritesItAndReportsWhetherItWasNew)
{
    HKEY h = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, (LPSTR) "", REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              &h, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, (DWORD)REG_CREATED_NEW_KEY);
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);

    // The key alone, without values, is kept in the file.
    EXPECT_NE(read_file(store_path()).find(std::string("[") + kGroup + "]"), std::string::npos);
    struct stat st;
    ASSERT_EQ(stat(store_dir().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, (LPSTR) "", 0, KEY_ALL_ACCESS, nullptr, &h, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, (DWORD)REG_OPENED_EXISTING_KEY);
    RegCloseKey(h);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
    RegCloseKey(h);
}

TEST_F(Registry, KeyPathsMatchWithoutRegardToCaseAndAncestorsExist)
{
    HKEY h = create_key();
    ASSERT_EQ(set_dword(h, "ripple_speed", 7), ERROR_SUCCESS);
    RegCloseKey(h);

    HKEY other = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\brindlewick productions\\TIDEFOLD screen saver", 0,
                            KEY_READ, &other),
              ERROR_SUCCESS);
    DWORD v = 0, size = 4;
    EXPECT_EQ(RegQueryValueExA(other, "RIPPLE_SPEED", nullptr, nullptr, (LPBYTE)&v, &size), ERROR_SUCCESS);
    EXPECT_EQ(v, 7u);
    // Writing through the other spelling updates the same key and value rather than adding new ones.
    ASSERT_EQ(set_dword(other, "Ripple_Speed", 8), ERROR_SUCCESS);
    RegCloseKey(other);
    std::string text = read_file(store_path());
    EXPECT_EQ(text.find("[HKEY_CURRENT_USER\\SOFTWARE"), std::string::npos);
    EXPECT_NE(text.find("ripple_speed=dword:00000008"), std::string::npos) << text;

    // Intermediate keys exist as on Windows; a sibling does not; subkeys open relative to a key.
    HKEY parent = nullptr, child = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Brindlewick Productions", 0, KEY_READ, &parent),
              ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Brindlewick", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegOpenKeyExA(parent, "Tidefold Screen Saver", 0, KEY_READ, &child), ERROR_SUCCESS);
    size = 4;
    EXPECT_EQ(RegQueryValueExA(child, "ripple_speed", nullptr, nullptr, (LPBYTE)&v, &size), ERROR_SUCCESS);
    EXPECT_EQ(v, 8u);
    RegCloseKey(child);
    RegCloseKey(parent);
}

TEST_F(Registry, ClosedUnknownAndNullHandlesAreRejectedWithoutHarm)
{
    HKEY h = create_key();
    ASSERT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(h), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);

    DWORD v = 5, size = 4;
    EXPECT_EQ(RegQueryValueExA(h, "flags", nullptr, nullptr, (LPBYTE)&v, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(set_dword(h, "flags", 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(set_dword(nullptr, "flags", 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(set_dword((HKEY)(uintptr_t)0xdeadbeef, "flags", 1), ERROR_INVALID_HANDLE);
    HKEY sub = nullptr;
    EXPECT_EQ(RegOpenKeyExA(h, "x", 0, KEY_READ, &sub), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCreateKeyExA(nullptr, "x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(sub, nullptr);
    EXPECT_EQ(v, 5u);
}

TEST_F(Registry, DwordValuesRoundTripExactly)
{
    struct Case {
        DWORD value;
        const char *text;
    };
    const Case cases[] = {
        {0, "dword:00000000"},        {1, "dword:00000001"},          {22, "dword:00000016"},
        {0xFFFFFFFFu, "dword:ffffffff"}, {(DWORD)-5, "dword:fffffffb"}, {(DWORD)INT_MIN, "dword:80000000"},
    };
    HKEY h = create_key();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_EQ(set_dword(h, "v", c.value), ERROR_SUCCESS);
        EXPECT_NE(read_file(store_path()).find(std::string("v=") + c.text), std::string::npos);

        BYTE bytes[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        DWORD type = 0, size = sizeof bytes;
        ASSERT_EQ(RegQueryValueExA(h, "v", nullptr, &type, bytes, &size), ERROR_SUCCESS);
        EXPECT_EQ(type, (DWORD)REG_DWORD);
        EXPECT_EQ(size, 4u);
        // Four little-endian bytes.
        for (int i = 0; i < 4; ++i) EXPECT_EQ(bytes[i], (BYTE)(c.value >> (8 * i)));

        int as_int = 0;
        size = 4;
        ASSERT_EQ(RegQueryValueExA(h, "v", nullptr, nullptr, (LPBYTE)&as_int, &size), ERROR_SUCCESS);
        EXPECT_EQ(as_int, (int)c.value);
    }
    RegCloseKey(h);
}

TEST_F(Registry, QueryFollowsTheWin32SizeRules)
{
    HKEY h = create_key();
    ASSERT_EQ(set_dword(h, "flags", 0x16), ERROR_SUCCESS);

    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(h, "flags", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(type, (DWORD)REG_DWORD);

    BYTE small[3] = {9, 9, 9};
    size = sizeof small;
    type = 0;
    EXPECT_EQ(RegQueryValueExA(h, "flags", nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(small[0], 9);

    DWORD v = 77;
    size = 4;
    type = 99;
    EXPECT_EQ(RegQueryValueExA(h, "no_such_value", nullptr, &type, (LPBYTE)&v, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(v, 77u);
    EXPECT_EQ(type, 99u);

    EXPECT_EQ(RegQueryValueExA(h, "flags", nullptr, nullptr, (LPBYTE)&v, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExA(h, "flags", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    RegCloseKey(h);
}

TEST_F(Registry, StringsBinaryAndOddSizesKeepTheirTypeAndBytes)
{
    struct Case {
        const char *name;
        DWORD type;
        std::string bytes;
    };
    const Case cases[] = {
        {"title", REG_SZ, std::string("Ripples\non [water] = 100%\0", 27)},
        {"empty", REG_SZ, std::string("\0", 1)},
        {"raw", REG_SZ, std::string("no terminator")},
        {"latin1", REG_SZ, std::string("caf\xe9\0", 5)},
        {"blob", REG_BINARY, std::string("\x00\x01\xff\x7f", 4)},
        {"nothing", REG_BINARY, std::string()},
        {"short_dword", REG_DWORD, std::string("\x05\x00", 2)},
        {"multi", 7, std::string("a\0b\0\0", 5)},
    };
    HKEY h = create_key();
    for (const Case &c : cases)
        ASSERT_EQ(RegSetValueExA(h, c.name, 0, c.type, (const BYTE *)c.bytes.data(), (DWORD)c.bytes.size()),
                  ERROR_SUCCESS)
            << c.name;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        BYTE buf[64];
        DWORD type = 0, size = sizeof buf;
        ASSERT_EQ(RegQueryValueExA(h, c.name, nullptr, &type, buf, &size), ERROR_SUCCESS);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(std::string((const char *)buf, size), c.bytes);
    }
    // The unnamed default value is a value of its own.
    DWORD v = 3, size = 4;
    ASSERT_EQ(set_dword(h, nullptr, 3), ERROR_SUCCESS);
    v = 0;
    EXPECT_EQ(RegQueryValueExA(h, "", nullptr, nullptr, (LPBYTE)&v, &size), ERROR_SUCCESS);
    EXPECT_EQ(v, 3u);
    RegCloseKey(h);
    EXPECT_TRUE(loads_as_key_file(read_file(store_path())));
}

TEST_F(Registry, NamesTheFileCannotHoldAreRefusedQuietly)
{
    HKEY h = create_key();
    OutputCapture capture;
    EXPECT_EQ(set_dword(h, "a=b", 1), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(set_dword(h, "line\nbreak", 1), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(set_dword(h, " padded", 1), ERROR_INVALID_PARAMETER);
    HKEY bad = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\[bracket]", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &bad,
                              nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\\\Twice", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &bad,
                              nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(capture.finish(), "");
    RegCloseKey(h);
    EXPECT_TRUE(loads_as_key_file(read_file(store_path())));
}

TEST_F(Registry, AWriteKeepsOtherGroupsValuesAndComments)
{
    const std::string before = std::string("# Edited by hand; keep this note.\n") + "[HKEY_CURRENT_USER\\Software\\Other]\n" +
                               "colour=dword:00ff00ff\n" + "\n" + "# Settings of the saver\n" + "[" + kGroup + "]\n" +
                               "# speed was tuned\n" + "ripple_speed=dword:00000005\n" + "name=sz:kept as is\n";
    write_file(store_path(), before);

    HKEY h = create_key();
    ASSERT_EQ(set_dword(h, "ripple_freq", 42), ERROR_SUCCESS);
    RegCloseKey(h);

    std::string after = read_file(store_path());
    for (const char *line : {"# Edited by hand; keep this note.", "[HKEY_CURRENT_USER\\Software\\Other]",
                             "colour=dword:00ff00ff", "# Settings of the saver", "# speed was tuned",
                             "ripple_speed=dword:00000005", "name=sz:kept as is", "ripple_freq=dword:0000002a"})
        EXPECT_NE(after.find(line), std::string::npos) << line << "\n" << after;
    DWORD v = 0;
    EXPECT_TRUE(read_dword("ripple_speed", &v));
    EXPECT_EQ(v, 5u);
}

TEST_F(Registry, AWriteReplacesTheFileByRenameLeavingNoTemporaryFile)
{
    HKEY h = create_key();
    ASSERT_EQ(set_dword(h, "flags", 1), ERROR_SUCCESS);
    struct stat before, after;
    ASSERT_EQ(stat(store_path().c_str(), &before), 0);
    ASSERT_EQ(set_dword(h, "flags", 2), ERROR_SUCCESS);
    ASSERT_EQ(stat(store_path().c_str(), &after), 0);
    RegCloseKey(h);

    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(after.st_mode & 0777, 0600u);
    EXPECT_EQ(dir_entries(store_dir()), std::vector<std::string>{"registry.ini"});
}

TEST_F(Registry, AWriteThatRunsOutOfSpaceLeavesTheOldFileWhole)
{
    HKEY h = create_key();
    ASSERT_EQ(set_dword(h, "flags", 22), ERROR_SUCCESS);
    const std::string before = read_file(store_path());

    // A file size limit below what the new file needs makes the write fail part-way.
    std::string big(4096, 'w');
    big.push_back('\0');
    struct rlimit old_limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = old_limit;
    limit.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    LSTATUS r = RegSetValueExA(h, "big", 0, REG_SZ, (const BYTE *)big.data(), (DWORD)big.size());
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, old_handler);
    RegCloseKey(h);

    EXPECT_NE(r, ERROR_SUCCESS);
    EXPECT_EQ(read_file(store_path()), before);
    EXPECT_EQ(dir_entries(store_dir()), std::vector<std::string>{"registry.ini"});
}

TEST_F(Registry, AStoreThatCannotBeReadIsNeverOverwritten)
{
    // A directory where the file should be cannot be read (as root, unlike a chmod 000 file).
    ASSERT_TRUE(fs::create_directories(store_path()));
    OutputCapture capture;
    HKEY h = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &h), ERROR_FILE_NOT_FOUND);
    EXPECT_NE(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(capture.finish(), "");
    EXPECT_TRUE(fs::is_directory(store_path()));
}

TEST_F(Registry, AnUnreadableFileLoadsAsAbsentAndIsNotOverwritten)
{
    if (geteuid() == 0) GTEST_SKIP() << "root reads any file";
    const std::string text = std::string("[") + kGroup + "]\nflags=dword:00000001\n";
    write_file(store_path(), text);
    chmod(store_path().c_str(), 0);
    OutputCapture capture;
    DWORD v = 0;
    EXPECT_FALSE(read_dword("flags", &v));
    HKEY h = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(capture.finish(), "");
    chmod(store_path().c_str(), 0600);
    EXPECT_EQ(read_file(store_path()), text);
}

// A damaged store: what must still be read, what must read as absent, and that a save over it
// gives a whole key file again.
struct Damage {
    const char *name;
    std::string content;
    bool key_opens;
    const char *present; // a value that must still read back as 22, or null
    const char *absent;  // a value that must read as absent, or null
};

void PrintTo(const Damage &d, std::ostream *os) { *os << d.name; }

std::string random_bytes(size_t n)
{
    std::mt19937 gen(12345);
    std::string s(n, '\0');
    for (char &c : s) c = (char)(gen() & 0xff);
    return s;
}

std::vector<Damage> damages()
{
    const std::string header = std::string("[") + kGroup + "]\n";
    return {
        {"truncated_in_a_value", header + "flags=dword:00000016\nripple_speed=dword:000", true, "flags",
         "ripple_speed"},
        {"truncated_in_a_name", header + "flags=dword:00000016\nripple_sp", true, "flags", "ripple_sp"},
        {"truncated_in_the_header", std::string("[HKEY_CURRENT_USER\\Software\\Brindlewick Pro"), false, nullptr,
         nullptr},
        {"random_binary", random_bytes(4096), false, nullptr, nullptr},
        {"not_a_key_file", "This is a shopping list.\nEggs, flour\n", false, nullptr, nullptr},
        {"value_dword_zz", header + "flags=dword:00000016\nripple_speed=dword:zz\n", true, "flags", "ripple_speed"},
        {"value_abc", header + "flags=dword:00000016\nripple_speed=abc\n", true, "flags", "ripple_speed"},
        {"dword_out_of_range", header + "flags=dword:00000016\nripple_speed=dword:100000000\n", true, "flags",
         "ripple_speed"},
        {"dword_with_sign", header + "flags=dword:00000016\nripple_speed=dword:-0000001\n", true, "flags",
         "ripple_speed"},
        {"broken_header_in_the_middle",
         header + "flags=dword:00000016\n[HKEY_CURRENT_USER\\Software\\Else\nripple_speed=dword:00000005\n", true,
         "flags", "ripple_speed"},
        {"not_utf8", header + "flags=dword:00000016\nripple_speed=\xff\xfe\n", true, "flags", "ripple_speed"},
    };
}

class RegistryDamage : public TempConfigHome, public ::testing::WithParamInterface<Damage> {};

TEST_P(RegistryDamage, ReadsWhatSurvivesSilentlyWithoutTouchingTheFile)
{
    const Damage &d = GetParam();
    write_file(store_path(), d.content);

    OutputCapture capture;
    HKEY h = nullptr;
    LSTATUS opened = RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &h);
    DWORD v = 0;
    bool present_read = d.present && read_dword(d.present, &v);
    DWORD absent_value = 0;
    bool absent_read = d.absent && read_dword(d.absent, &absent_value);
    if (h) RegCloseKey(h);
    EXPECT_EQ(capture.finish(), "");

    EXPECT_EQ(opened == ERROR_SUCCESS, d.key_opens);
    if (d.present) {
        EXPECT_TRUE(present_read);
        EXPECT_EQ(v, 22u);
    }
    EXPECT_FALSE(absent_read);
    EXPECT_EQ(read_file(store_path()), d.content);
}

TEST_P(RegistryDamage, ASaveOverItGivesAKeyFileKeepingWhatWasReadable)
{
    const Damage &d = GetParam();
    write_file(store_path(), d.content);

    OutputCapture capture;
    HKEY h = create_key();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(set_dword(h, "ripple_freq", 9), ERROR_SUCCESS);
    RegCloseKey(h);
    EXPECT_EQ(capture.finish(), "");

    EXPECT_TRUE(loads_as_key_file(read_file(store_path()))) << read_file(store_path());
    DWORD v = 0;
    EXPECT_TRUE(read_dword("ripple_freq", &v));
    EXPECT_EQ(v, 9u);
    if (d.present) {
        EXPECT_TRUE(read_dword(d.present, &v));
        EXPECT_EQ(v, 22u);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, RegistryDamage, ::testing::ValuesIn(damages()),
                         [](const ::testing::TestParamInfo<Damage> &info) { return std::string(info.param.name); });

} // namespace
