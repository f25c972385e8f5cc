// The Win32 calls whose work depends on the display server: each backend implements every one of
// them, and the global functions forward to the backend chosen at start (backend.cpp). The calls
// whose rules are the same everywhere are window_core.cpp's.
// TIDEFOLD_BACKEND_CALL(return type, name, (parameters), (arguments)); no include guard.

// user: windows, input, cursor
TIDEFOLD_BACKEND_CALL(int, GetSystemMetrics, (int nIndex), (nIndex))
TIDEFOLD_BACKEND_CALL(HWND, CreateWindowExA,
                      (DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                       int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam),
                      (dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth, nHeight, hWndParent, hMenu,
                       hInstance, lpParam))
TIDEFOLD_BACKEND_CALL(BOOL, GetWindowRect, (HWND hWnd, LPRECT lpRect), (hWnd, lpRect))
TIDEFOLD_BACKEND_CALL(BOOL, GetCursorPos, (LPPOINT lpPoint), (lpPoint))
TIDEFOLD_BACKEND_CALL(HWND, GetDesktopWindow, (void), ())
TIDEFOLD_BACKEND_CALL(HDC, GetDC, (HWND hWnd), (hWnd))
// gdi: the screen, pixel formats
TIDEFOLD_BACKEND_CALL(int, GetDeviceCaps, (HDC hdc, int index), (hdc, index))
TIDEFOLD_BACKEND_CALL(int, ChoosePixelFormat, (HDC hdc, const PIXELFORMATDESCRIPTOR *ppfd), (hdc, ppfd))
TIDEFOLD_BACKEND_CALL(BOOL, SetPixelFormat, (HDC hdc, int format, const PIXELFORMATDESCRIPTOR *ppfd),
                      (hdc, format, ppfd))
TIDEFOLD_BACKEND_CALL(BOOL, SwapBuffers, (HDC hdc), (hdc))
// wgl: OpenGL contexts
TIDEFOLD_BACKEND_CALL(HGLRC, wglCreateContext, (HDC hdc), (hdc))
TIDEFOLD_BACKEND_CALL(BOOL, wglMakeCurrent, (HDC hdc, HGLRC hglrc), (hdc, hglrc))
TIDEFOLD_BACKEND_CALL(BOOL, wglDeleteContext, (HGLRC hglrc), (hglrc))
// monitors
TIDEFOLD_BACKEND_CALL(BOOL, EnumDisplayMonitors,
                      (HDC hdc, LPCRECT lprcClip, MONITORENUMPROC lpfnEnum, LPARAM dwData),
                      (hdc, lprcClip, lpfnEnum, dwData))
TIDEFOLD_BACKEND_CALL(BOOL, GetMonitorInfoA, (HMONITOR hMonitor, LPMONITORINFO lpmi), (hMonitor, lpmi))
// kernel: the session's named mutexes
TIDEFOLD_BACKEND_CALL(HANDLE, CreateMutexA, (LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName),
                      (lpMutexAttributes, bInitialOwner, lpName))
