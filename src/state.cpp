// Every variable of the library is defined here: the last error text, the
// chosen path, the two tables, what the last load found and the JSON text
// of the last record handed out. All of it is zero at load, so nothing
// needs initialising; the functions that change each are named beside its
// declaration. The hooks, which only tests change, live in hooks.cpp.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "hooks.h"
#include "hosts_internal.h"
#include "last_load.h"

char s_err[k_err_size];
char s_path[k_path_size];

host_record *s_recs;
int s_rec_count;
int s_rec_cap;
int s_rec_used;
char **s_pass;
int s_pass_count;
int s_pass_cap;

char s_loaded_path[k_path_size];
loaded_file s_loaded = {NEVER_LOADED, 0, 0};
file_place s_loaded_place;

char s_json[k_json_size];

namespace {

const char k_version[] = "1.0.0";

// Hands the tables back when the library is unloaded (dlclose, FreeLibrary)
// or the program ends: a host that unloads and loads the library again must
// not keep the records of every earlier copy.
struct release_at_unload {
    ~release_at_unload() { reset_lists(); }
} s_release_at_unload;

}  // namespace

void set_err(const char *fmt, ...) noexcept {
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(s_err, sizeof s_err, fmt, args);
    va_end(args);
}

void clear_err() noexcept {
    s_err[0] = '\0';
}

const char *path_in_use() noexcept {
    return s_path[0] ? s_path : s_hooks.system->default_path();
}

QH_EXPORT int QH_CALL hosts_set_path(const char *path) noexcept {
    clear_err();
    if (path == nullptr || path[0] == '\0') {
        s_path[0] = '\0';
        return 1;
    }
    std::size_t len = std::strlen(path);
    if (len > k_path_size - 1) {
        set_err("path too long");
        return -1;
    }
    std::memcpy(s_path, path, len + 1);
    return 1;
}

QH_EXPORT const char *QH_CALL hosts_version(void) noexcept {
    return k_version;
}

QH_EXPORT const char *QH_CALL hosts_last_error(void) noexcept {
    return s_err;
}
