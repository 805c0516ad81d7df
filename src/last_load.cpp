// Keeps what the last load found, keyed by the file it loaded: the spelling
// of its path, the file's identity and the folder and name it has.
#include "last_load.h"

#include <cstdio>
#include <cstring>

#include "hooks.h"

namespace {

bool is_separator(char c) {
#if defined(_WIN32)
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

bool same_name(const char *a, const char *b) {
#if defined(_WIN32)
    return _stricmp(a, b) == 0;
#else
    return std::strcmp(a, b) == 0;
#endif
}

// Fills `place` with what can be found out about `path` now; what cannot
// (a folder that is gone, a loop of links) is left out, and the spelling
// alone then ties a save to the load.
void locate(const char *path, file_place *place) {
    const qh_system *os = s_hooks.system;
    sys_error err{};
    place->has_file = os->file_identity(path, &place->file, &err) == FILE_OK;
    place->has_folder = false;
    char target[k_path_size];
    if (os->resolve_target(path, target, sizeof target, &err) != 0)
        return;
    std::size_t cut = std::strlen(target);
    while (cut > 0 && !is_separator(target[cut - 1]))
        --cut;
    std::snprintf(place->name, sizeof place->name, "%s", target + cut);
    char folder[k_path_size];
    // The separator stays where it is the root ("/", "C:\"); elsewhere it
    // goes, so that a name in the current folder has "." for its folder.
    std::size_t keep = cut > 1 && target[cut - 2] != ':' ? cut - 1 : cut;
    std::snprintf(folder, sizeof folder, "%.*s", static_cast<int>(keep), target);
    if (folder[0] == '\0')
        std::snprintf(folder, sizeof folder, ".");
    place->has_folder =
        place->name[0] != '\0' && os->file_identity(folder, &place->folder, &err) == FILE_OK;
}

bool same_place(const file_place &a, const file_place &b) {
    if (a.has_file && b.has_file && a.file == b.file)
        return true;
    return a.has_folder && b.has_folder && a.folder == b.folder && same_name(a.name, b.name);
}

}  // namespace

void remember_load(const char *path, load_outcome outcome, const content_hash *content) noexcept {
    std::snprintf(s_loaded_path, sizeof s_loaded_path, "%s", path);
    s_loaded = {outcome, 0, 0};
    if (outcome == LOADED_CONTENT) {
        s_loaded.size = content->size();
        s_loaded.hash = content->value();
    }
    locate(path, &s_loaded_place);
}

loaded_file remembered_load(const char *path) noexcept {
    if (s_loaded.outcome == NEVER_LOADED)
        return {NEVER_LOADED, 0, 0};
    if (std::strcmp(path, s_loaded_path) == 0)
        return s_loaded;
    file_place here;
    locate(path, &here);
    return same_place(here, s_loaded_place) ? s_loaded : loaded_file{NEVER_LOADED, 0, 0};
}

void remember_saved(const char *path, const content_hash &written) noexcept {
    s_loaded = {LOADED_CONTENT, written.size(), written.value()};
    // The replace made a new file, with an identity of its own.
    locate(path, &s_loaded_place);
}

void forget_load() noexcept {
    s_loaded = {NEVER_LOADED, 0, 0};
    s_loaded_path[0] = '\0';
    s_loaded_place = {};
}
