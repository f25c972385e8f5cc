// The savers of the other monitors on Windows: the same .scr started once per monitor, told its
// area through the environment, in a job that ends them all when this process ends; each ended
// alone when its monitor goes.
#include "ssaver.h"

#include "monitor_plan.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct MONITOR_SAVER {
    HANDLE hProcess;
    RECT area;
};
static std::vector<MONITOR_SAVER> monitor_savers;
static HANDLE hSaverJob = NULL;

// The job kills every process in it once its last handle closes, which our end does too.
static HANDLE saver_job(void)
{
    if (hSaverJob) return hSaverJob;
    HANDLE job = CreateJobObjectA(NULL, NULL);
    if (!job) return NULL;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION info;
    memset(&info, 0, sizeof info);
    info.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &info, sizeof info)) {
        CloseHandle(job);
        return NULL;
    }
    hSaverJob = job;
    return job;
}

int ss_start_monitor_saver(const RECT *area)
{
    HANDLE job = saver_job();
    if (!job) return 0;
    char exe[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, exe, sizeof exe);
    if (n == 0 || n >= sizeof exe) return 0;
    char cmd[MAX_PATH + 8];
    snprintf(cmd, sizeof cmd, "\"%s\" /s", exe);
    char value[64];
    snprintf(value, sizeof value, "%ld,%ld,%ld,%ld", (long)area->left, (long)area->top,
             (long)(area->right - area->left), (long)(area->bottom - area->top));

    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNOACTIVATE;
    PROCESS_INFORMATION pi;
    SetEnvironmentVariableA(SS_MONITOR_VARIABLE, value);
    // Suspended until it is in the job, so it cannot outlive us even for a moment.
    BOOL started = CreateProcessA(exe, cmd, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &si, &pi);
    SetEnvironmentVariableA(SS_MONITOR_VARIABLE, NULL);
    if (!started) return 0;
    if (!AssignProcessToJobObject(job, pi.hProcess)) {
        TerminateProcess(pi.hProcess, 0);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return 0;
    }
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    MONITOR_SAVER saver = {pi.hProcess, *area};
    monitor_savers.push_back(saver);
    return 1;
}

int ss_given_monitor(RECT *area)
{
    const char *given = getenv(SS_MONITOR_VARIABLE);
    return given && ss_read_monitor_area(given, area);
}

void ss_watch_monitor_savers(HWND hWnd) { (void)hWnd; }

// A monitor saver that ends by itself (a click or a move over its monitor ends it) closes the
// saver window, which ends the others.
int ss_reap_monitor_savers(void)
{
    int gone = 0;
    for (size_t i = 0; i < monitor_savers.size();) {
        HANDLE h = monitor_savers[i].hProcess;
        if (WaitForSingleObject(h, 0) != WAIT_OBJECT_0) {
            i++;
            continue;
        }
        DWORD code = 0;
        GetExitCodeProcess(h, &code);
        CloseHandle(h);
        monitor_savers.erase(monitor_savers.begin() + (long)i);
        if (code == SS_MONITOR_GONE_STATUS)
            gone = 1;
        else if (hMainWnd)
            PostMessageA(hMainWnd, WM_CLOSE, 0, 0);
        else
            PostQuitMessage(0);
    }
    return gone;
}

std::vector<RECT> ss_monitor_saver_areas(void)
{
    std::vector<RECT> areas;
    for (const MONITOR_SAVER &m : monitor_savers) areas.push_back(m.area);
    return areas;
}

void ss_end_monitor_saver(const RECT *area)
{
    for (size_t i = 0; i < monitor_savers.size();) {
        if (!ss_same_rect(&monitor_savers[i].area, area)) {
            i++;
            continue;
        }
        TerminateProcess(monitor_savers[i].hProcess, 0);
        WaitForSingleObject(monitor_savers[i].hProcess, 1000);
        CloseHandle(monitor_savers[i].hProcess);
        monitor_savers.erase(monitor_savers.begin() + (long)i);
    }
}

void ss_end_monitor_savers(void)
{
    if (!hSaverJob) return;
    TerminateJobObject(hSaverJob, 0);
    CloseHandle(hSaverJob);
    hSaverJob = NULL;
    for (const MONITOR_SAVER &m : monitor_savers) CloseHandle(m.hProcess);
    monitor_savers.clear();
}
