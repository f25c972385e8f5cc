// The savers of the other monitors on Windows: the same .scr started once per monitor, told its
// area through the environment, in a job that ends them all when this process ends.
#include "ssaver.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_MONITOR_SAVERS 16
static HANDLE hMonitorSavers[MAX_MONITOR_SAVERS];
static int nMonitorSavers = 0;
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
    if (!job || nMonitorSavers >= MAX_MONITOR_SAVERS) return 0;
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
    hMonitorSavers[nMonitorSavers++] = pi.hProcess;
    return 1;
}

int ss_given_monitor(RECT *area)
{
    const char *given = getenv(SS_MONITOR_VARIABLE);
    return given && ss_read_monitor_area(given, area);
}

// Waits for the first monitor saver to end (a click or a move over its monitor ends it) and then
// closes the saver window, which ends the others.
static DWORD WINAPI close_when_one_ends(LPVOID param)
{
    WaitForMultipleObjects((DWORD)nMonitorSavers, hMonitorSavers, FALSE, INFINITE);
    PostMessageA((HWND)param, WM_CLOSE, 0, 0);
    return 0;
}

void ss_watch_monitor_savers(HWND hWnd)
{
    if (!nMonitorSavers || !hWnd) return;
    HANDLE thread = CreateThread(NULL, 0, close_when_one_ends, hWnd, 0, NULL);
    if (thread) CloseHandle(thread);
}

void ss_end_monitor_savers(void)
{
    if (!hSaverJob) return;
    TerminateJobObject(hSaverJob, 0);
    CloseHandle(hSaverJob);
    hSaverJob = NULL;
}
