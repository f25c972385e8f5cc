// Fuzzes the settings file, the one input a user edits by hand: any bytes as registry.ini must
// load without harm and without being changed, a save of what was loaded must succeed and leave a
// whole key file, and a second load must give the same four settings back.
#include "ripple.h"

#include <glib.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

std::string g_home, g_store_path;

void remove_config_home()
{
    unlink(g_store_path.c_str());
    rmdir((g_home + "/tidefold").c_str());
    rmdir(g_home.c_str());
}

// A private configuration folder, on a memory file system when there is one.
void make_config_home()
{
    char tmpl[] = "/dev/shm/tidefold-fuzz-XXXXXX";
    char fallback[] = "/tmp/tidefold-fuzz-XXXXXX";
    const char *home = mkdtemp(tmpl);
    if (!home) home = mkdtemp(fallback);
    if (!home) abort();
    setenv("XDG_CONFIG_HOME", home, 1);
    g_home = home;
    g_store_path = g_home + "/tidefold/registry.ini";
    if (mkdir((g_home + "/tidefold").c_str(), 0700) != 0) abort();
    atexit(remove_config_home);
}

void set_settings(const int v[4])
{
    user_options = v[0];
    max_texture_size = v[1];
    ripple_speed = v[2];
    ripple_freq = v[3];
}

bool settings_are(const int v[4])
{
    return user_options == v[0] && max_texture_size == v[1] && ripple_speed == v[2] && ripple_freq == v[3];
}

void write_store(const uint8_t *data, size_t size)
{
    FILE *f = fopen(g_store_path.c_str(), "wb");
    if (!f || fwrite(data, 1, size, f) != size || fclose(f) != 0) abort();
}

std::string read_store()
{
    gchar *text = nullptr;
    gsize len = 0;
    if (!g_file_get_contents(g_store_path.c_str(), &text, &len, nullptr)) abort();
    std::string out(text, len);
    g_free(text);
    return out;
}

bool is_a_key_file(const std::string &text)
{
    GKeyFile *kf = g_key_file_new();
    bool ok = g_key_file_load_from_data(kf, text.data(), text.size(), G_KEY_FILE_NONE, nullptr);
    g_key_file_free(kf);
    return ok;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    make_config_home();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Values no input is likely to hold, so that what the file leaves alone shows.
    static const int before[4] = {0x5eed0001, 0x5eed0002, 0x5eed0003, 0x5eed0004};
    static const int between[4] = {-1, -2, -3, -4};
    write_store(data, size);
    set_settings(before);
    LoadConfig();
    const int loaded[4] = {user_options, max_texture_size, ripple_speed, ripple_freq};
    if (read_store() != std::string((const char *)data, size)) {
        fprintf(stderr, "loading changed the settings file\n");
        abort();
    }

    LSTATUS status = SaveConfig();
    if (size > (1u << 20)) return 0; // too large to be settings: never replaced
    if (status != ERROR_SUCCESS) {
        fprintf(stderr, "a regular settings file could not be saved: %s\n", registry_failure_reason());
        abort();
    }
    if (!is_a_key_file(read_store())) {
        fprintf(stderr, "the saved settings file is not a whole key file\n");
        abort();
    }
    set_settings(between);
    LoadConfig();
    if (!settings_are(loaded)) {
        fprintf(stderr, "saved %d %d %d %d, loaded back %d %d %d %d\n", loaded[0], loaded[1], loaded[2], loaded[3],
                user_options, max_texture_size, ripple_speed, ripple_freq);
        abort();
    }
    return 0;
}
