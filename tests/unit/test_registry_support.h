// Helpers for the tests of the per-user store: a private configuration directory for each test,
// file access, and a capture of everything written to stdout and stderr.
#pragma once

#include "win32.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// Points XDG_CONFIG_HOME at a fresh temporary directory for the length of one test.
class TempConfigHome : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tidefold-store-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        home_ = tmpl;
        const char *old = getenv("XDG_CONFIG_HOME");
        had_old_ = old != nullptr;
        if (old) old_ = old;
        setenv("XDG_CONFIG_HOME", (home_ + "/config").c_str(), 1);
    }
    void TearDown() override
    {
        if (had_old_) setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
        else unsetenv("XDG_CONFIG_HOME");
        std::error_code ec;
        std::filesystem::permissions(home_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(home_, ec);
    }
    std::string store_dir() const { return home_ + "/config/tidefold"; }
    std::string store_path() const { return store_dir() + "/registry.ini"; }

    void write_file(const std::string &path, const std::string &text)
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }

private:
    std::string home_;
    std::string old_;
    bool had_old_ = false;
};

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> dir_entries(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline bool loads_as_key_file(const std::string &text)
{
    GKeyFile *kf = g_key_file_new();
    GError *err = nullptr;
    bool ok = g_key_file_load_from_data(kf, text.data(), text.size(), G_KEY_FILE_NONE, &err);
    g_clear_error(&err);
    g_key_file_free(kf);
    return ok;
}

// Sends file descriptors 1 and 2 to a temporary file until finish(), which gives what was written.
class OutputCapture {
public:
    OutputCapture()
    {
        fflush(stdout);
        fflush(stderr);
        file_ = tmpfile();
        saved_out_ = dup(1);
        saved_err_ = dup(2);
        dup2(fileno(file_), 1);
        dup2(fileno(file_), 2);
    }
    ~OutputCapture() { finish(); }
    std::string finish()
    {
        if (!file_) return text_;
        fflush(stdout);
        fflush(stderr);
        dup2(saved_out_, 1);
        dup2(saved_err_, 2);
        close(saved_out_);
        close(saved_err_);
        rewind(file_);
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, file_)) > 0) text_.append(buf, n);
        fclose(file_);
        file_ = nullptr;
        return text_;
    }

private:
    FILE *file_ = nullptr;
    int saved_out_ = -1;
    int saved_err_ = -1;
    std::string text_;
};
