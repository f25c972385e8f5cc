// The screen saver framework: the hooks an effect supplies and the globals the framework keeps.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "win32.h"
#endif

#include <vector>

#define SS_MODE_CONFIG 0
#define SS_MODE_PASSWORD 1
#define SS_MODE_SAVER 2
#define SS_MODE_PREVIEW 3

extern int ss_mode;
extern HINSTANCE hInst;
extern HWND hMainWnd;
extern int nScreenWidth;
extern int nScreenHeight;
// Top-left corner of the saver's area on the screen: 0,0 but in the saver of a monitor other than
// the primary one.
extern int nScreenLeft;
extern int nScreenTop;

// Hooks the effect supplies.
int ss_initialize(HWND hWnd);
int ss_shutdown(HWND hWnd);
int ss_draw(HWND hWnd);
int ss_config(void);
LRESULT CALLBACK ScreenSaverProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The framework's default handling of the saver window.
LRESULT CALLBACK DefScreenSaverProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Reads the mode switch and preview handle from an argument string; the launcher's scan.
void ss_scan_command_line(const char *lpCmdLine);
HWND ss_invoked_parent(void);

// The savers of the other monitors, one process each: started with the same program in saver mode
// and the monitor's area in this variable, ended together with the process that started them, or
// one by one as their monitors go. One that ends unasked ends the first saver too, unless it ended
// with SS_MONITOR_GONE_STATUS: its window was taken away with its monitor (monitors_windows.cpp,
// monitors_linux.cpp).
#define SS_MONITOR_VARIABLE "TIDEFOLD_MONITOR"
int ss_read_monitor_area(const char *text, RECT *rc);
// In a saver started for one monitor by the saver the user started: that monitor's area, and 1.
// 0 in any other process, whatever its environment holds.
int ss_given_monitor(RECT *area);
#define SS_MONITOR_GONE_STATUS 3
int ss_start_monitor_saver(const RECT *area);
void ss_watch_monitor_savers(HWND hWnd);
// Forgets the monitor savers that ended: 1 when one of them ended because its monitor went. One
// that ended otherwise ends the whole saver, as a termination request (as closing it on Windows).
int ss_reap_monitor_savers(void);
std::vector<RECT> ss_monitor_saver_areas(void);
void ss_end_monitor_saver(const RECT *area);
void ss_end_monitor_savers(void);
