// Keeps what the last load found, keyed by the path it loaded.
#include "last_load.h"

#include <cstdio>
#include <cstring>

void remember_load(const char *path, load_outcome outcome, const content_hash *content) noexcept {
    std::snprintf(s_loaded_path, sizeof s_loaded_path, "%s", path);
    s_loaded = {outcome, 0, 0};
    if (outcome == LOADED_CONTENT) {
        s_loaded.size = content->size();
        s_loaded.hash = content->value();
    }
}

loaded_file remembered_load(const char *path) noexcept {
    if (s_loaded.outcome == NEVER_LOADED || std::strcmp(path, s_loaded_path) != 0)
        return {NEVER_LOADED, 0, 0};
    return s_loaded;
}

void remember_saved(const content_hash &written) noexcept {
    s_loaded = {LOADED_CONTENT, written.size(), written.value()};
}

void forget_load() noexcept {
    s_loaded = {NEVER_LOADED, 0, 0};
    s_loaded_path[0] = '\0';
}
