// The host's switches for one run, and their place over the stored settings.
#include "host_settings.h"

#include "win32.h"

#include <cstring>

namespace platform {
namespace {

struct NumberSwitch {
    const char *name;
    int HostSettings::*field;
    int low, high;
    bool power_of_two;
    const char *what;
};

const NumberSwitch kNumbers[] = {
    {"speed", &HostSettings::speed, 1, 30, false, "the ripple speed is a whole number from 1 to 30"},
    {"frequency", &HostSettings::frequency, 1, 500, false, "the ripple frequency is a whole number from 1 to 500"},
    {"texture-size", &HostSettings::texture_size, 64, 2048, true,
     "the texture size is one of 64, 128, 256, 512, 1024 and 2048"},
};

struct FlagSwitch {
    const char *name;
    int HostSettings::*field;
    int value;
};

const FlagSwitch kFlags[] = {
    {"lighting", &HostSettings::lighting, 1},       {"no-lighting", &HostSettings::lighting, -1},
    {"no-desktop", &HostSettings::desktop, -1},     {"single-buffer", &HostSettings::double_buffer, -1},
    {"low-quality", &HostSettings::high_quality, -1},
};

// The switch's name without its one or two dashes; null for anything else.
const char *switch_name(const char *arg)
{
    if (arg[0] != '-') return nullptr;
    return arg[1] == '-' ? arg + 2 : arg + 1;
}

// A whole decimal number within low..high, written without sign or blanks.
bool read_number(const char *text, int low, int high, bool power_of_two, int *value)
{
    if (!*text || strlen(text) > 9) return false;
    long v = 0;
    for (const char *p = text; *p; p++) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + (*p - '0');
    }
    if (v < low || v > high || (power_of_two && (v & (v - 1)))) return false;
    *value = int(v);
    return true;
}

void note_error(HostSettings *out, const std::string &line)
{
    if (out->error.empty()) out->error = line;
}

// A value as the message shows it: on one line, and not too long to read.
std::string shown(const char *value)
{
    std::string out;
    for (const char *p = value; *p && out.size() < 40; p++) out += (unsigned char)*p < 0x20 || *p == 0x7f ? '?' : *p;
    if (strlen(value) > 40) out += "...";
    return out;
}

} // namespace

bool take_host_switch(int argc, const char *const *argv, int *i, HostSettings *out)
{
    const char *arg = argv[*i];
    const char *name = switch_name(arg);
    if (!name) return false;
    for (const FlagSwitch &f : kFlags) {
        if (strcmp(name, f.name) != 0) continue;
        out->*f.field = f.value;
        out->words.push_back(arg);
        return true;
    }
    if (strcmp(name, "fps") == 0) {
        out->fps = true;
        out->words.push_back(arg);
        return true;
    }
    const bool image = strcmp(name, "image") == 0;
    const NumberSwitch *number = nullptr;
    for (const NumberSwitch &n : kNumbers)
        if (strcmp(name, n.name) == 0) number = &n;
    if (!image && !number) return false;
    out->words.push_back(arg);
    if (*i + 1 >= argc) {
        note_error(out, std::string("tidefold: ") + arg + " needs a value after it");
        return true;
    }
    const char *value = argv[++*i];
    out->words.push_back(value);
    if (image) {
        out->image = value;
        return true;
    }
    if (!read_number(value, number->low, number->high, number->power_of_two, &(out->*number->field)))
        note_error(out, std::string("tidefold: ") + arg + " " + shown(value) + ": " + number->what);
    return true;
}

HostSettings &host_settings()
{
    static HostSettings settings;
    return settings;
}

} // namespace platform

void GetHostSettings(HOSTSETTINGS *settings)
{
    const platform::HostSettings &host = platform::host_settings();
    settings->ripple_speed = host.speed;
    settings->ripple_freq = host.frequency;
    settings->max_texture_size = host.texture_size;
    settings->lighten_darken = host.lighting;
    settings->ripple_desktop = host.desktop;
    settings->double_buffer = host.double_buffer;
    settings->high_quality = host.high_quality;
    settings->show_fps = host.fps ? 1 : 0;
}

char *const *monitor_saver_arguments(void)
{
    static std::vector<std::string> words;
    static std::vector<char *> argv;
    words = {"tidefold", "/s"};
    for (const std::string &w : platform::host_settings().words) words.push_back(w);
    argv.clear();
    for (std::string &w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    return argv.data();
}
