// The program's arguments (see arguments.h).
#include "arguments.h"

#include <cstring>

namespace platform {
namespace {

bool is_word(const char *arg, const char *name) { return strcmp(arg, name) == 0; }

bool root_word(const char *arg) { return is_word(arg, "--root") || is_word(arg, "-root"); }
bool window_id_word(const char *arg) { return is_word(arg, "--window-id") || is_word(arg, "-window-id"); }

EntryArguments::Request request_word(const char *arg)
{
    if (is_word(arg, "--help") || is_word(arg, "-h")) return EntryArguments::help;
    if (is_word(arg, "--version")) return EntryArguments::version;
    return EntryArguments::run;
}

} // namespace

bool parse_window_id(const char *text, unsigned long *id)
{
    if (!text || !*text) return false;
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    if (!*text) return false;
    unsigned long long v = 0;
    for (const char *p = text; *p; p++) {
        int digit;
        if (*p >= '0' && *p <= '9')
            digit = *p - '0';
        else if (base == 16 && *p >= 'a' && *p <= 'f')
            digit = *p - 'a' + 10;
        else if (base == 16 && *p >= 'A' && *p <= 'F')
            digit = *p - 'A' + 10;
        else
            return false;
        v = v * base + digit;
        if (v > 0xFFFFFFFFull) return false;
    }
    if (!v) return false;
    *id = static_cast<unsigned long>(v);
    return true;
}

EntryArguments read_entry_arguments(int argc, const char *const *argv, const char *xscreensaver_window,
                                    unsigned long (*root_window)())
{
    EntryArguments out;
    bool wants_root = false;
    for (int i = 1; i < argc; i++) {
        if (request_word(argv[i]) != EntryArguments::run) {
            if (out.request == EntryArguments::run) out.request = request_word(argv[i]);
        } else if (root_word(argv[i])) {
            out.embedded = true;
            wants_root = true;
        } else if (window_id_word(argv[i])) {
            out.embedded = true;
            wants_root = false;
            out.window = 0;
            if (i + 1 < argc) parse_window_id(argv[++i], &out.window);
        } else if (!take_host_switch(argc, argv, &i, &out.host)) {
            if (!out.command_line.empty()) out.command_line += ' ';
            out.command_line += argv[i];
        }
    }
    if (!out.embedded) return out;
    // The daemon names the window it wants drawn on; without it, --root means the root itself.
    if (wants_root && !parse_window_id(xscreensaver_window, &out.window))
        out.window = root_window ? root_window() : 0;
    // Two blanks: a p or l switch ending the other arguments takes the two characters after its
    // letter as part of itself, and must not swallow the slash of the switch appended here.
    if (!out.command_line.empty()) out.command_line += "  ";
    out.command_line += "/p " + std::to_string(out.window);
    return out;
}

} // namespace platform
