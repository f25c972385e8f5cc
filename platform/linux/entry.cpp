// Process entry on Linux: the arguments joined by single blanks become WinMain's argument string.
#include "win32.h"

#include <string>

int main(int argc, char **argv)
{
    std::string args;
    for (int i = 1; i < argc; i++) {
        if (i > 1) args += ' ';
        args += argv[i];
    }
    static char module_marker;
    HINSTANCE self = reinterpret_cast<HINSTANCE>(&module_marker);
    return WinMain(self, nullptr, &args[0], SW_SHOWDEFAULT);
}
