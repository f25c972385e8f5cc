// The per-user store behind the registry calls: key and value semantics and the file it keeps.
// How it treats a damaged file is tested through the settings in test_settings.cpp.
#include "test_registry_support.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

namespace fs = std::filesystem;

namespace {

const char kKey[] = "Software\\Brindlewick Productions\\Tidefold Screen Saver";
const char kGroup[] = "HKEY_CURRENT_USER\\Software\\Brindlewick Productions\\Tidefold Screen Saver";

class Registry : public TempConfigHome {};

LSTATUS create(HKEY *h, DWORD *disposition = nullptr, HKEY parent = HKEY_CURRENT_USER, const char *path = kKey)
{
    return RegCreateKeyExA(parent, path, 0, (LPSTR) "", REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, h,
                           disposition);
}

HKEY create_key()
{
    HKEY h = nullptr;
    EXPECT_EQ(create(&h), ERROR_SUCCESS);
    return h;
}

LSTATUS set_dword(HKEY h, const char *name, DWORD v)
{
    return RegSetValueExA(h, name, 0, REG_DWORD, (const BYTE *)&v, sizeof v);
}

// A DWORD value read through its own handle, or -1 when the key or a 4-byte DWORD is absent.
long long dword_at(const char *key, const char *name)
{
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return -1;
    DWORD v = 0, type = 0, size = 4;
    LSTATUS r = RegQueryValueExA(h, name, nullptr, &type, (LPBYTE)&v, &size);
    RegCloseKey(h);
    return r == ERROR_SUCCESS && type == REG_DWORD && size == 4 ? (long long)v : -1;
}

TEST_F(Registry, CreateReportsANewKeyOnceAndOnlyThenCanItBeOpened)
{
    OutputCapture capture;
    HKEY h = (HKEY)1;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &h), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(h, nullptr);
    EXPECT_FALSE(fs::exists(store_dir())) << "opening writes nothing";

    DWORD disposition = 0;
    ASSERT_EQ(create(&h, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, (DWORD)REG_CREATED_NEW_KEY);
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    EXPECT_NE(read_file(store_path()).find(std::string("[") + kGroup + "]"), std::string::npos)
        << "a key without values is kept";
    struct stat st;
    ASSERT_EQ(stat(store_dir().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    ASSERT_EQ(create(&h, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, (DWORD)REG_OPENED_EXISTING_KEY);
    RegCloseKey(h);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
    RegCloseKey(h);
    EXPECT_EQ(capture.finish(), "");
}

TEST_F(Registry, KeyPathsMatchWithoutRegardToCaseAndAncestorsExist)
{
    HKEY h = create_key();
    ASSERT_EQ(set_dword(h, "ripple_speed", 7), ERROR_SUCCESS);
    RegCloseKey(h);
    const char *shouting = "SOFTWARE\\brindlewick productions\\TIDEFOLD screen saver";
    EXPECT_EQ(dword_at(shouting, "RIPPLE_SPEED"), 7);

    // Writing through the other spelling updates the same key and value rather than adding new ones.
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, shouting, 0, KEY_READ, &h), ERROR_SUCCESS);
    ASSERT_EQ(set_dword(h, "Ripple_Speed", 8), ERROR_SUCCESS);
    RegCloseKey(h);
    std::string text = read_file(store_path());
    EXPECT_EQ(text.find("[HKEY_CURRENT_USER\\SOFTWARE"), std::string::npos) << text;
    EXPECT_NE(text.find("ripple_speed=dword:00000008"), std::string::npos) << text;

    // Intermediate keys exist as on Windows, and subkeys open relative to them; a sibling does not.
    HKEY parent = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Brindlewick Productions", 0, KEY_READ, &parent),
              ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(parent, "Tidefold Screen Saver", 0, KEY_READ, &h), ERROR_SUCCESS);
    RegCloseKey(h);
    RegCloseKey(parent);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Brindlewick", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, ClosedUnknownAndNullHandlesAreRejectedWithoutHarm)
{
    HKEY h = create_key();
    ASSERT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    DWORD v = 5, size = 4;
    HKEY sub = nullptr;
    for (HKEY bad : {h, (HKEY) nullptr, (HKEY)(uintptr_t)0xdeadbeef}) {
        EXPECT_EQ(RegCloseKey(bad), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegQueryValueExA(bad, "flags", nullptr, nullptr, (LPBYTE)&v, &size), ERROR_INVALID_HANDLE);
        EXPECT_EQ(set_dword(bad, "flags", 1), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegOpenKeyExA(bad, "x", 0, KEY_READ, &sub), ERROR_INVALID_HANDLE);
        EXPECT_EQ(create(&sub, nullptr, bad, "x"), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(sub, nullptr);
    EXPECT_EQ(v, 5u);
}

TEST_F(Registry, AWriteKeepsOtherGroupsValuesAndComments)
{
    const std::vector<std::string> kept = {"# Edited by hand; keep this note.",
                                           "[HKEY_CURRENT_USER\\Software\\Other]",
                                           "colour=dword:00ff00ff",
                                           std::string("[") + kGroup + "]",
                                           "# speed was tuned",
                                           "ripple_speed=dword:00000005",
                                           "name=sz:kept as is"};
    std::string before;
    for (const std::string &line : kept) before += line + "\n";
    write_store(before);

    HKEY h = create_key();
    ASSERT_EQ(set_dword(h, "ripple_freq", 42), ERROR_SUCCESS);
    RegCloseKey(h);
    std::string after = read_file(store_path());
    for (const std::string &line : kept) EXPECT_NE(after.find(line), std::string::npos) << line << "\n" << after;
    EXPECT_EQ(dword_at(kKey, "ripple_freq"), 42);
}

TEST_F(Registry, AWriteReplacesTheWholeFileByRenameOrLeavesTheOldOne)
{
    HKEY h = create_key();
    ASSERT_EQ(set_dword(h, "flags", 1), ERROR_SUCCESS);
    struct stat before, after;
    ASSERT_EQ(stat(store_path().c_str(), &before), 0);
    ASSERT_EQ(set_dword(h, "flags", 22), ERROR_SUCCESS);
    ASSERT_EQ(stat(store_path().c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(after.st_mode & 0777, 0600u);
    const std::string text = read_file(store_path());

    // A file size limit below what the new file needs makes the next write fail part-way.
    std::string big(4096, 'w');
    big.push_back('\0');
    struct rlimit old_limit, limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    limit = old_limit;
    limit.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    LSTATUS r = RegSetValueExA(h, "big", 0, REG_SZ, (const BYTE *)big.data(), (DWORD)big.size());
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, old_handler);
    RegCloseKey(h);
    EXPECT_NE(r, ERROR_SUCCESS);
    EXPECT_EQ(read_file(store_path()), text);

    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(store_dir())) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"registry.ini"}) << "no temporary file is left";
}

// registry.ini kept elsewhere through a link (or a chain of them, relative or absolute), as a
// dotfiles manager sets it up: a write replaces the file at the end of the links, atomically in
// its own folder and with its own permissions, and every link stays.
TEST_F(Registry, AWriteThroughALinkReplacesTheFileItLeadsToAndKeepsTheLink)
{
    struct Links {
        const char *name;
        std::vector<std::pair<std::string, std::string>> links; // from, to: relative to the home folder
        bool target_exists;
    };
    const Links cases[] = {
        {"relative", {{"config/tidefold/registry.ini", "../../dotfiles/tidefold.ini"}}, true},
        {"chain", {{"config/tidefold/registry.ini", "/HOME/hop"}, {"hop", "dotfiles/tidefold.ini"}}, true},
        {"to a file not made yet", {{"config/tidefold/registry.ini", "../../dotfiles/tidefold.ini"}}, false},
    };
    for (const Links &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(home() + "/config");
        fs::remove_all(home() + "/dotfiles");
        fs::remove(home() + "/hop");
        fs::create_directories(store_dir());
        fs::create_directories(home() + "/dotfiles");
        const std::string target = home() + "/dotfiles/tidefold.ini";
        if (c.target_exists) {
            std::ofstream(target) << "[" << kGroup << "]\nripple_speed=dword:00000005\n";
            chmod(target.c_str(), 0644);
        }
        for (auto [from, to] : c.links) {
            if (to.rfind("/HOME/", 0) == 0) to = home() + to.substr(5);
            ASSERT_EQ(symlink(to.c_str(), (home() + "/" + from).c_str()), 0);
        }

        EXPECT_EQ(dword_at(kKey, "ripple_speed"), c.target_exists ? 5 : -1);
        HKEY h = create_key();
        ASSERT_EQ(set_dword(h, "ripple_freq", 42), ERROR_SUCCESS);
        RegCloseKey(h);

        for (auto [from, to] : c.links) EXPECT_TRUE(fs::is_symlink(home() + "/" + from)) << from;
        EXPECT_NE(read_file(target).find("ripple_freq=dword:0000002a"), std::string::npos) << read_file(target);
        EXPECT_EQ(dword_at(kKey, "ripple_speed"), c.target_exists ? 5 : -1);
        EXPECT_EQ(fs::status(target).permissions(), c.target_exists ? fs::perms(0644) : fs::perms(0600));
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(home() + "/dotfiles")) names.push_back(e.path().filename());
        EXPECT_EQ(names, std::vector<std::string>{"tidefold.ini"}) << "no temporary file is left";
    }
}

} // namespace
