// Shared by the store and settings tests: a private configuration directory per test, file
// access, and a capture of everything written to stdout and stderr.
#pragma once

#include "win32.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// Points XDG_CONFIG_HOME at a fresh temporary directory for the length of one test.
class TempConfigHome : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tidefold-store-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        home_ = tmpl;
        const char *old = getenv("XDG_CONFIG_HOME");
        old_ = old ? old : "";
        setenv("XDG_CONFIG_HOME", (home_ + "/config").c_str(), 1);
    }
    void TearDown() override
    {
        if (old_.empty()) unsetenv("XDG_CONFIG_HOME");
        else setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
        std::error_code ec;
        std::filesystem::remove_all(home_, ec);
    }
    std::string store_dir() const { return home_ + "/config/tidefold"; }
    std::string store_path() const { return store_dir() + "/registry.ini"; }
    void write_store(const std::string &text)
    {
        std::filesystem::create_directories(store_dir());
        std::ofstream(store_path(), std::ios::binary) << text;
    }

private:
    std::string home_, old_;
};

inline std::string read_file(const std::string &path)
{
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

inline bool loads_as_key_file(const std::string &text)
{
    GKeyFile *kf = g_key_file_new();
    bool ok = g_key_file_load_from_data(kf, text.data(), text.size(), G_KEY_FILE_NONE, nullptr);
    g_key_file_free(kf);
    return ok;
}

// Sends file descriptors 1 and 2 to a temporary file until finish(), which gives what was written.
class OutputCapture {
public:
    OutputCapture()
    {
        fflush(nullptr);
        file_ = tmpfile();
        for (int fd : {1, 2}) saved_[fd - 1] = dup(fd), dup2(fileno(file_), fd);
    }
    ~OutputCapture() { finish(); }
    std::string finish()
    {
        if (!file_) return text_;
        fflush(nullptr);
        for (int fd : {1, 2}) dup2(saved_[fd - 1], fd), close(saved_[fd - 1]);
        rewind(file_);
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, file_)) > 0;) text_.append(buf, n);
        fclose(file_);
        file_ = nullptr;
        return text_;
    }

private:
    FILE *file_ = nullptr;
    int saved_[2] = {-1, -1};
    std::string text_;
};
