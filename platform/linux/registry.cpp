// The per-user registry over a GLib key file at $XDG_CONFIG_HOME/tidefold/registry.ini.
//
// One group per key, named by its full path ("HKEY_CURRENT_USER\Software\..."), one line per
// value, typed as in a .reg file:
//     flags=dword:00000016          REG_DWORD, 8 hex digits
//     title=sz:Ripples\non water    REG_SZ, with the key file's escapes
//     blob=hex:01,02,ff             REG_BINARY
//     other=hex(7):61,00,00         any other type, by number
// Key paths and value names match without regard to ASCII case, as on Windows. Opening or
// creating a key reads the file afresh, and the calls on the handle use what was read, so the
// file is read once per LoadConfig. Every change is saved at once by writing a temporary file
// beside the file and renaming it over the old one, so the file on disk is always a whole one;
// when registry.ini is a link, the file it leads to is the one replaced and the link stays.
#include "win32.h"

#include <fcntl.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

const char kRootName[] = "HKEY_CURRENT_USER";
const GKeyFileFlags kLoadFlags = (GKeyFileFlags)(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS);

// Open keys by handle value; values are never reused, so a closed handle stays invalid.
std::map<uintptr_t, std::string> g_open_keys;
uintptr_t g_next_handle = 0x100;

struct KeyFileDeleter {
    void operator()(GKeyFile *kf) const { g_key_file_free(kf); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileDeleter>;

struct GFreeDeleter {
    void operator()(void *p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

struct StrvDeleter {
    void operator()(gchar **v) const { g_strfreev(v); }
};
using StrvPtr = std::unique_ptr<gchar *, StrvDeleter>;

// Runs a GLib call that reports through GError and drops the error: nothing is ever printed.
struct ErrorSink {
    GError *error = nullptr;
    ~ErrorSink() { g_clear_error(&error); }
    GError **out()
    {
        g_clear_error(&error);
        return &error;
    }
};

// The configuration directory by the XDG rules, read from the environment on every call.
std::string config_dir()
{
    const char *xdg = g_getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    const char *home = g_getenv("HOME");
    if (!home || !home[0]) home = g_get_home_dir();
    return std::string(home) + "/.config";
}

std::string store_dir() { return config_dir() + "/tidefold"; }
std::string store_path() { return store_dir() + "/registry.ini"; }

// A settings file larger than this is damaged rather than settings; it is not read at all.
const off_t kMaxStoreBytes = 1 << 20;
const char kTooLarge[] = "Larger than 1 MiB";
const int kMaxLinkHops = 40;

// The file behind the last failed save and the system's reason, for the message telling the user.
std::string g_failed_file, g_failure_reason;

std::string folder_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Follows path through any chain of symbolic links to the file that holds the data (which may
// not exist yet). False, with errno set, for a loop or a link that cannot be read.
bool follow_links(const std::string &path, std::string *target)
{
    std::string p = path;
    for (int hop = 0; hop <= kMaxLinkHops; hop++) {
        struct stat st;
        if (lstat(p.c_str(), &st) != 0) {
            *target = p;
            return errno == ENOENT;
        }
        if (!S_ISLNK(st.st_mode)) {
            *target = p;
            return true;
        }
        std::vector<char> buf((size_t)(st.st_size > 0 ? st.st_size : 255) + 1);
        ssize_t n = readlink(p.c_str(), buf.data(), buf.size());
        if (n < 0) return false;
        std::string link(buf.data(), (size_t)n);
        p = link[0] == '/' ? link : folder_of(p) + "/" + link;
    }
    errno = ELOOP;
    return false;
}

bool parses_as_key_file(const std::string &text)
{
    KeyFilePtr kf(g_key_file_new());
    ErrorSink err;
    return g_key_file_load_from_data(kf.get(), text.data(), text.size(), G_KEY_FILE_NONE, err.out());
}

// Keeps the lines of a damaged file that still make sense: comments, blank lines, well-formed
// group headers, and well-formed value lines under a well-formed header. Value lines after a
// broken header are dropped too, so that they are not mistaken for values of the group before.
std::string salvage_lines(const std::string &text)
{
    std::string kept;
    bool in_good_group = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;

        size_t first = line.find_first_not_of(" \t\r\f\v");
        bool keep;
        if (first == std::string::npos || line[first] == '#') {
            keep = true;
        } else if (line[first] == '[') {
            in_good_group = g_utf8_validate(line.data(), (gssize)line.size(), nullptr) && parses_as_key_file(line);
            keep = in_good_group;
        } else {
            keep = in_good_group && g_utf8_validate(line.data(), (gssize)line.size(), nullptr) &&
                   parses_as_key_file("[x]\n" + line);
        }
        if (keep) kept += line + "\n";
    }
    return kept;
}

// The store as read from disk. A missing file is an empty store; a file that is not a key file
// loses only the lines that cannot be understood (all of them for binary junk). A file that
// exists but cannot be read (or is no regular file, or is too large to be settings) is not
// writable either, so that a save never replaces what it could not read; unreadable says why.
struct Store {
    KeyFilePtr kf;
    std::string file; // where registry.ini leads, the file read and replaced
    std::string unreadable;
};

// Why a stat result is not a settings file, or "" when it may be one.
std::string not_a_store(const struct stat &st)
{
    if (S_ISDIR(st.st_mode)) return g_strerror(EISDIR);
    if (!S_ISREG(st.st_mode)) return "Not a regular file";
    if (st.st_size > kMaxStoreBytes) return kTooLarge;
    return "";
}

// Reads the whole settings file. Only a regular file is opened for reading, and the open never
// waits, so a FIFO, a device or a folder at that path cannot hang or flood the reader.
// False when the file is missing (*why empty) or cannot be read (*why says why).
bool read_store_file(const std::string &path, std::string *text, std::string *why)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) *why = g_strerror(errno);
        return false;
    }
    if (!(*why = not_a_store(st)).empty()) return false;
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) *why = g_strerror(errno);
        return false;
    }
    if (fstat(fd, &st) != 0 || !(*why = not_a_store(st)).empty()) {
        if (why->empty()) *why = g_strerror(errno);
        close(fd);
        return false;
    }
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0 && (off_t)text->size() <= kMaxStoreBytes) text->append(buf, (size_t)n);
    if (n < 0) *why = g_strerror(errno);
    else if ((off_t)text->size() > kMaxStoreBytes) *why = kTooLarge;
    close(fd);
    return why->empty();
}

Store load_store()
{
    Store store;
    store.kf.reset(g_key_file_new());
    std::string path = store_path(), text;
    if (!follow_links(path, &store.file)) {
        store.file = path;
        store.unreadable = g_strerror(errno);
        return store;
    }
    if (!read_store_file(store.file, &text, &store.unreadable)) {
        // Said once: the dialog's save reads the file again and reports on its own.
        static bool warned = false;
        if (store.unreadable == kTooLarge && !warned) {
            fprintf(stderr, "tidefold: %s is larger than 1 MiB and taken as damaged; using the default settings\n",
                    path.c_str());
            warned = true;
        }
        return store;
    }
    // Some editors begin a UTF-8 file with a byte-order mark, which the key file would take for
    // a broken line before the first group.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);

    ErrorSink err;
    if (text.find('\0') != std::string::npos) return store;
    if (g_key_file_load_from_data(store.kf.get(), text.data(), text.size(), kLoadFlags, err.out())) return store;

    std::string kept = salvage_lines(text);
    store.kf.reset(g_key_file_new());
    if (!g_key_file_load_from_data(store.kf.get(), kept.data(), kept.size(), kLoadFlags, err.out()))
        store.kf.reset(g_key_file_new());
    return store;
}

// GKeyFile makes groups only for values; a key without values is a group header of its own,
// added here by appending one to the text and reading it back.
void add_empty_group(Store *store, const std::string &path)
{
    gsize len = 0;
    GCharPtr data(g_key_file_to_data(store->kf.get(), &len, nullptr));
    std::string text(data.get(), len);
    if (!text.empty() && text.back() != '\n') text += "\n";
    if (!text.empty()) text += "\n";
    text += "[" + path + "]\n";
    KeyFilePtr kf(g_key_file_new());
    ErrorSink err;
    if (g_key_file_load_from_data(kf.get(), text.data(), text.size(), kLoadFlags, err.out())) store->kf = std::move(kf);
}

LSTATUS status_of(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    default: return ERROR_WRITE_FAULT;
    }
}

bool write_all(int fd, const char *data, size_t len)
{
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        len -= (size_t)n;
    }
    return true;
}

// Replaces path with data in one step: a temporary file in the same folder, written out and
// synced, renamed over it. On failure the old file is untouched, no temporary file is left and
// errno tells why.
bool replace_file(const std::string &path, const char *data, size_t len, mode_t mode)
{
    std::string tmp = path + ".XXXXXX";
    int fd = mkostemp(&tmp[0], O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fchmod(fd, mode) == 0 && write_all(fd, data, len) && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && ok) ok = false, error = errno;
    if (ok && rename(tmp.c_str(), path.c_str()) != 0) ok = false, error = errno;
    if (!ok) unlink(tmp.c_str()), errno = error;
    return ok;
}

LSTATUS save_failed(const Store &store, const std::string &reason, LSTATUS status)
{
    g_failed_file = store_path();
    if (store.file != g_failed_file) g_failed_file += " (a link to " + store.file + ")";
    g_failure_reason = reason;
    return status;
}

LSTATUS save_store(const Store &store)
{
    if (!store.unreadable.empty()) return save_failed(store, store.unreadable, ERROR_ACCESS_DENIED);
    if (g_mkdir_with_parents(folder_of(store.file).c_str(), 0700) != 0)
        return save_failed(store, g_strerror(errno), status_of(errno));
    // A file kept elsewhere (a link into a dotfiles folder) keeps its permissions.
    struct stat st;
    mode_t mode = stat(store.file.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0600;
    gsize len = 0;
    GCharPtr data(g_key_file_to_data(store.kf.get(), &len, nullptr));
    if (!replace_file(store.file, data.get(), len, mode)) return save_failed(store, g_strerror(errno), status_of(errno));
    return ERROR_SUCCESS;
}

// The store the open keys work on: read when a key is opened or created, let go with the last
// key, and read again after a failed save so that it never holds what the file does not.
std::unique_ptr<Store> g_store;

Store &reread_store()
{
    g_store.reset(new Store(load_store()));
    return *g_store;
}

Store &current_store() { return g_store && !g_open_keys.empty() ? *g_store : reread_store(); }

LSTATUS save_current_store()
{
    LSTATUS status = save_store(*g_store);
    if (status != ERROR_SUCCESS) g_store.reset();
    return status;
}

// The group whose name equals path without regard to ASCII case, or null.
GCharPtr find_group(GKeyFile *kf, const std::string &path)
{
    StrvPtr groups(g_key_file_get_groups(kf, nullptr));
    for (gchar **g = groups.get(); *g; ++g)
        if (g_ascii_strcasecmp(*g, path.c_str()) == 0) return GCharPtr(g_strdup(*g));
    return nullptr;
}

// A key exists when its group does or when it is the ancestor of one ("Software" exists as soon
// as "Software\Maker" does), as intermediate keys do on Windows. The root always exists.
bool key_exists(GKeyFile *kf, const std::string &path)
{
    if (g_ascii_strcasecmp(path.c_str(), kRootName) == 0) return true;
    StrvPtr groups(g_key_file_get_groups(kf, nullptr));
    for (gchar **g = groups.get(); *g; ++g) {
        size_t n = strlen(*g);
        if (n == path.size() && g_ascii_strcasecmp(*g, path.c_str()) == 0) return true;
        if (n > path.size() && (*g)[path.size()] == '\\' && g_ascii_strncasecmp(*g, path.c_str(), path.size()) == 0)
            return true;
    }
    return false;
}

// The value line whose name equals name without regard to ASCII case, or null.
GCharPtr find_value_name(GKeyFile *kf, const char *group, const std::string &name)
{
    StrvPtr keys(g_key_file_get_keys(kf, group, nullptr, nullptr));
    if (!keys) return nullptr;
    for (gchar **k = keys.get(); *k; ++k)
        if (g_ascii_strcasecmp(*k, name.c_str()) == 0) return GCharPtr(g_strdup(*k));
    return nullptr;
}

bool has_control_char(const std::string &s)
{
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

// Key names become group names: no brackets or control characters, valid UTF-8.
bool valid_key_path(const std::string &path)
{
    return g_utf8_validate(path.data(), (gssize)path.size(), nullptr) && !has_control_char(path) &&
           path.find_first_of("[]") == std::string::npos;
}

// Value names become key names, which the key file does not allow to hold '=', brackets
// (translations), surrounding blanks or a leading '#'. The unnamed default value is "@".
bool value_line_name(LPCSTR lpValueName, std::string *name)
{
    *name = lpValueName && lpValueName[0] ? lpValueName : "@";
    const std::string &n = *name;
    return g_utf8_validate(n.data(), (gssize)n.size(), nullptr) && !has_control_char(n) &&
           n.find_first_of("=[]") == std::string::npos && n.front() != ' ' && n.back() != ' ' && n.front() != '#';
}

// The full path of the key handle h, or false for a handle that is not open.
bool key_path(HKEY h, std::string *path)
{
    if (h == HKEY_CURRENT_USER) {
        *path = kRootName;
        return true;
    }
    auto it = g_open_keys.find((uintptr_t)h);
    if (it == g_open_keys.end()) return false;
    *path = it->second;
    return true;
}

// The path of sub under the key parent: empty components are refused, trailing separators dropped.
bool subkey_path(HKEY parent, LPCSTR sub, std::string *path, LSTATUS *status)
{
    if (!key_path(parent, path)) {
        *status = ERROR_INVALID_HANDLE;
        return false;
    }
    std::string s = sub ? sub : "";
    while (!s.empty() && s.back() == '\\') s.pop_back();
    if (!s.empty()) {
        if (s.front() == '\\' || s.find("\\\\") != std::string::npos || !valid_key_path(s)) {
            *status = ERROR_INVALID_PARAMETER;
            return false;
        }
        *path += "\\" + s;
    }
    return true;
}

HKEY new_handle(const std::string &path)
{
    uintptr_t h = g_next_handle++;
    g_open_keys[h] = path;
    return (HKEY)h;
}

std::string hex_bytes(const BYTE *data, DWORD size)
{
    std::string out;
    char buf[4];
    for (DWORD i = 0; i < size; ++i) {
        g_snprintf(buf, sizeof buf, "%s%02x", i ? "," : "", data[i]);
        out += buf;
    }
    return out;
}

int hex_digit(char c)
{
    return g_ascii_isxdigit(c) ? g_ascii_xdigit_value(c) : -1;
}

// Parses "aa,bb,..." (possibly empty) into bytes.
bool parse_hex_bytes(const char *s, std::vector<BYTE> *out)
{
    out->clear();
    if (!*s) return true;
    while (true) {
        int hi = hex_digit(s[0]);
        int lo = hi < 0 ? -1 : hex_digit(s[1]);
        if (lo < 0) return false;
        out->push_back((BYTE)(hi * 16 + lo));
        s += 2;
        if (!*s) return true;
        if (*s != ',') return false;
        ++s;
    }
}

// The text stored for a value of the given type and bytes.
std::string encode_value(DWORD type, const BYTE *data, DWORD size)
{
    if (type == REG_DWORD && size == 4) {
        char buf[16];
        DWORD v = data[0] | (data[1] << 8) | (data[2] << 16) | ((DWORD)data[3] << 24);
        g_snprintf(buf, sizeof buf, "dword:%08x", v);
        return buf;
    }
    if (type == REG_SZ && size > 0 && data[size - 1] == 0) {
        std::string text((const char *)data, size - 1);
        bool plain = text.find('\0') == std::string::npos && g_utf8_validate(text.data(), (gssize)text.size(), nullptr);
        for (unsigned char c : text)
            if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7f) plain = false;
        if (plain) return "sz:" + text;
    }
    if (type == REG_BINARY) return "hex:" + hex_bytes(data, size);
    char prefix[24];
    g_snprintf(prefix, sizeof prefix, "hex(%x):", type);
    return prefix + hex_bytes(data, size);
}

// Reads back a stored value; false for anything that is not exactly one of the stored forms.
bool decode_value(const char *text, DWORD *type, std::vector<BYTE> *bytes)
{
    if (g_str_has_prefix(text, "dword:")) {
        const char *digits = text + 6;
        if (strlen(digits) != 8) return false;
        DWORD v = 0;
        for (int i = 0; i < 8; ++i) {
            int d = hex_digit(digits[i]);
            if (d < 0) return false;
            v = v * 16 + (DWORD)d;
        }
        *type = REG_DWORD;
        *bytes = {(BYTE)v, (BYTE)(v >> 8), (BYTE)(v >> 16), (BYTE)(v >> 24)};
        return true;
    }
    if (g_str_has_prefix(text, "sz:")) {
        const char *s = text + 3;
        *type = REG_SZ;
        bytes->assign(s, s + strlen(s) + 1);
        return true;
    }
    if (g_str_has_prefix(text, "hex:")) {
        *type = REG_BINARY;
        return parse_hex_bytes(text + 4, bytes);
    }
    if (g_str_has_prefix(text, "hex(")) {
        const char *p = text + 4;
        DWORD t = 0;
        int n = 0;
        for (; hex_digit(*p) >= 0 && n < 8; ++p, ++n) t = t * 16 + (DWORD)hex_digit(*p);
        if (n == 0 || p[0] != ')' || p[1] != ':') return false;
        *type = t;
        return parse_hex_bytes(p + 2, bytes);
    }
    return false;
}

} // namespace

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult)
{
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::string path;
    LSTATUS status;
    if (!subkey_path(hKey, lpSubKey, &path, &status)) return status;
    if (!key_exists(reread_store().kf.get(), path)) {
        if (g_open_keys.empty()) g_store.reset();
        return ERROR_FILE_NOT_FOUND;
    }
    *phkResult = new_handle(path);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM, const LPSECURITY_ATTRIBUTES,
                               PHKEY phkResult, LPDWORD lpdwDisposition)
{
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::string path;
    LSTATUS status;
    if (!subkey_path(hKey, lpSubKey, &path, &status)) return status;
    Store &store = reread_store();
    bool existed = key_exists(store.kf.get(), path);
    if (!find_group(store.kf.get(), path) && g_ascii_strcasecmp(path.c_str(), kRootName) != 0) {
        add_empty_group(&store, path);
        status = save_current_store();
        if (status != ERROR_SUCCESS) return status;
    }
    if (lpdwDisposition) *lpdwDisposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *phkResult = new_handle(path);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData)
{
    std::string path, name;
    if (!key_path(hKey, &path)) return ERROR_INVALID_HANDLE;
    if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
    if (!value_line_name(lpValueName, &name)) return ERROR_FILE_NOT_FOUND;

    Store &store = current_store();
    GCharPtr group = find_group(store.kf.get(), path);
    if (!group) return ERROR_FILE_NOT_FOUND;
    GCharPtr key = find_value_name(store.kf.get(), group.get(), name);
    if (!key) return ERROR_FILE_NOT_FOUND;
    GCharPtr text(g_key_file_get_string(store.kf.get(), group.get(), key.get(), nullptr));
    DWORD type;
    std::vector<BYTE> bytes;
    if (!text || !decode_value(text.get(), &type, &bytes)) return ERROR_FILE_NOT_FOUND;

    if (lpType) *lpType = type;
    DWORD size = (DWORD)bytes.size();
    if (!lpData) {
        if (lpcbData) *lpcbData = size;
        return ERROR_SUCCESS;
    }
    if (*lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (size) memcpy(lpData, bytes.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE *lpData, DWORD cbData)
{
    std::string path, name;
    if (!key_path(hKey, &path)) return ERROR_INVALID_HANDLE;
    if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
    if (!value_line_name(lpValueName, &name)) return ERROR_INVALID_PARAMETER;

    Store &store = current_store();
    GCharPtr group = find_group(store.kf.get(), path);
    std::string group_name = group ? group.get() : path;
    GCharPtr key = find_value_name(store.kf.get(), group_name.c_str(), name);
    std::string value = encode_value(dwType, lpData, cbData);
    g_key_file_set_string(store.kf.get(), group_name.c_str(), key ? key.get() : name.c_str(), value.c_str());
    return save_current_store();
}

LSTATUS WINAPI RegCloseKey(HKEY hKey)
{
    if (hKey == HKEY_CURRENT_USER) return ERROR_SUCCESS;
    if (!g_open_keys.erase((uintptr_t)hKey)) return ERROR_INVALID_HANDLE;
    if (g_open_keys.empty()) g_store.reset();
    return ERROR_SUCCESS;
}

const char *registry_failed_file(void) { return g_failed_file.c_str(); }

const char *registry_failure_reason(void) { return g_failure_reason.c_str(); }
