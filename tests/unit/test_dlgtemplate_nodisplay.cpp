// Dialogs and message boxes where there is no display to show them on, and templates that do not
// exist. Each case runs in a child process with DISPLAY unset, since GTK decides once per process.
#include "dialogs.h"
#include "ssaver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct ChildResult {
    int status = -1; // exit status, or 128 + signal
    std::string err;
    int err_lines() const { return (int)std::count(err.begin(), err.end(), '\n'); }
};

ChildResult run_without_display(const std::function<int()> &body)
{
    char path[] = "/tmp/tidefold-nodisplay-XXXXXX";
    int fd = mkstemp(path);
    ChildResult r;
    if (fd < 0) return r;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        setenv("XDG_CONFIG_HOME", "/nonexistent/tidefold-test", 1);
        dup2(fd, 2);
        _exit(body());
    }
    close(fd);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ostringstream s;
    s << std::ifstream(path).rdbuf();
    r.err = s.str();
    unlink(path);
    return r;
}

bool g_proc_called;

INT_PTR CALLBACK recording_proc(HWND, UINT, WPARAM, LPARAM)
{
    g_proc_called = true;
    return TRUE;
}

} // namespace

TEST(DialogsWithoutDisplay, DialogBoxReturnsMinusOneWithOneLineOfExplanation)
{
    ChildResult r = run_without_display([] {
        INT_PTR result = DialogBoxParamA(nullptr, "ConfigDlg", nullptr, recording_proc, 0);
        return result == -1 && !g_proc_called ? 0 : 1;
    });
    EXPECT_EQ(r.status, 0) << "DialogBoxParamA must give -1 and never call the procedure";
    EXPECT_EQ(r.err_lines(), 1) << r.err;
    EXPECT_NE(r.err.find("tidefold: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("no display"), std::string::npos) << r.err;
}

TEST(DialogsWithoutDisplay, ConfigurationModeEndsWithStatusZeroAndOneLine)
{
    ChildResult r = run_without_display([] {
        ss_config();
        return 3; // not reached: ss_config ends the process
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err_lines(), 1) << r.err;
    EXPECT_NE(r.err.find("Configure..."), std::string::npos) << r.err;
}

TEST(DialogsWithoutDisplay, MessageBoxReturnsZeroAndTellsStderr)
{
    ChildResult r = run_without_display([] {
        int first = MessageBoxA(nullptr, "SetPixelFormat() failed:  Cannot set format specified.", "Error", MB_OK);
        return first == 0 && MessageBoxA(nullptr, "again", "Error", MB_OK) == 0 ? 0 : 1;
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("SetPixelFormat() failed:  Cannot set format specified."), std::string::npos) << r.err;
}

TEST(DialogTemplates, AMissingTemplateGivesMinusOneWithoutShowingAnything)
{
    ChildResult r = run_without_display([] {
        bool by_name = DialogBoxParamA(nullptr, "NoSuchDlg", nullptr, recording_proc, 0) == -1;
        bool by_id = DialogBoxParamA(nullptr, MAKEINTRESOURCEA(99), nullptr, recording_proc, 0) == -1;
        return by_name && by_id && !g_proc_called ? 0 : 1;
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("NoSuchDlg"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("#99"), std::string::npos) << r.err;
}

TEST(DialogHandles, UnknownHandlesAreRefusedQuietly)
{
    for (HWND bogus : {(HWND)(uintptr_t)0x1234, (HWND) nullptr}) {
        EXPECT_EQ(GetDlgItem(bogus, IDOK), nullptr);
        EXPECT_FALSE(EndDialog(bogus, 1));
        EXPECT_FALSE(SetDlgItemTextA(bogus, IDOK, "x"));
        EXPECT_EQ(SendMessageA(bogus, BM_GETCHECK, 0, 0), 0);
        EXPECT_EQ(SendMessageA(bogus, TBM_GETPOS, 0, 0), 0);
    }
}
