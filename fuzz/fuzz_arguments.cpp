// Fuzzes the command line, the other input another program hands us. The bytes up to the first
// NUL are a Windows argument string for the launcher's scan; split at every NUL they are the
// arguments of the Linux program, which its entry turns into that string first. The scan must
// never read past the string and must give one of the four modes; without a switch character the
// mode stays as it was; the entry must pass the other arguments on so that the scan makes the same
// of them, and a screen saver daemon's word must always end in a preview inside the window it
// named. A host's switch (--speed N and the like) is taken out whole, and its value is in range or
// not taken at all.
#include "arguments.h"
#include "ssaver.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const unsigned long kRoot = 0x2a;
unsigned long fake_root() { return kRoot; }

void fail(const char *what, const std::string &command_line)
{
    fprintf(stderr, "%s: \"%s\"\n", what, command_line.c_str());
    abort();
}

// Scans a heap copy of exactly the string's size, so a read past its end is caught.
void scan(const std::string &command_line)
{
    char *copy = (char *)malloc(command_line.size() + 1);
    memcpy(copy, command_line.c_str(), command_line.size() + 1);
    ss_mode = SS_MODE_CONFIG;
    ss_scan_command_line(copy);
    free(copy);
    if (ss_mode < SS_MODE_CONFIG || ss_mode > SS_MODE_PREVIEW) fail("mode out of range", command_line);
    if (command_line.find_first_of("/-") == std::string::npos && ss_mode != SS_MODE_CONFIG)
        fail("a mode without a switch", command_line);
}

void check_window_id(const std::string &text)
{
    unsigned long id = 0;
    if (platform::parse_window_id(text.c_str(), &id) && (id == 0 || id > 0xffffffffUL))
        fail("window id out of range", text);
}

// The first argument, when the first byte is odd, stands for $XSCREENSAVER_WINDOW instead.
void enter(const uint8_t *data, size_t size)
{
    std::vector<std::string> words(1);
    for (size_t i = 1; i < size; i++) {
        if (data[i]) words.back() += (char)data[i];
        else words.emplace_back();
    }
    const bool daemon_window = size && (data[0] & 1);
    std::vector<const char *> argv = {"tidefold"};
    for (size_t i = daemon_window ? 1 : 0; i < words.size(); i++) argv.push_back(words[i].c_str());
    for (const std::string &w : words) check_window_id(w);

    platform::EntryArguments args = platform::read_entry_arguments((int)argv.size(), argv.data(),
                                                         daemon_window ? words[0].c_str() : nullptr, fake_root);
    // A host's value is in its range or not taken at all.
    const platform::HostSettings &h = args.host;
    if (h.speed < 0 || h.speed > 30 || h.frequency < 0 || h.frequency > 500 ||
        (h.texture_size && (h.texture_size < 64 || h.texture_size > 2048 || (h.texture_size & (h.texture_size - 1)))))
        fail("a host's value out of range", args.command_line);
    if (h.error.find('\n') != std::string::npos) fail("a message of more than one line", h.error);
    // --help and --version answer and end the run: the rest of the arguments are never scanned.
    if (args.request != platform::EntryArguments::run) return;
    scan(args.command_line);
    if (args.embedded) {
        if (ss_mode != SS_MODE_PREVIEW || (unsigned long)(uintptr_t)ss_invoked_parent() != args.window)
            fail("a daemon's word did not end in a preview of its window", args.command_line);
        return;
    }
    // Blanks may differ (a leading empty argument adds none), never what the scan makes of the
    // arguments that are not the host's switches.
    const int mode = ss_mode;
    const HWND parent = ss_invoked_parent();
    std::string joined;
    platform::HostSettings skipped;
    for (int i = 1; i < (int)argv.size(); i++)
        if (!platform::take_host_switch((int)argv.size(), argv.data(), &i, &skipped))
            joined += (joined.empty() ? "" : " ") + std::string(argv[i]);
    scan(joined);
    if (ss_mode != mode || (mode == SS_MODE_PREVIEW && ss_invoked_parent() != parent))
        fail("arguments not passed on as they were", args.command_line);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    scan(std::string((const char *)data, strnlen((const char *)data, size)));
    enter(data, size);
    return 0;
}
