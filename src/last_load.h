// What the last hosts_load found, so that a save to that file, however its
// path is spelled, can tell whether another program changed it meanwhile.
#ifndef QUENDRAL_HOSTS_LAST_LOAD_H
#define QUENDRAL_HOSTS_LAST_LOAD_H

#include <cstdint>

#include "content_hash.h"
#include "platform.h"

enum load_outcome {
    NEVER_LOADED,  // the file was not the last one loaded
    LOADED_ABSENT,
    LOADED_CONTENT,
    LOAD_FAILED,
};

struct loaded_file {
    load_outcome outcome;
    std::uint64_t size;  // size and hash of the bytes, for LOADED_CONTENT
    std::uint64_t hash;
};

// Which file a path leads to, whatever its spelling: the file itself while
// it exists, and the folder and name that a save of the path replaces,
// which outlive the file (loaded absent, deleted, replaced by a rename).
struct file_place {
    bool has_file;
    file_id file;
    bool has_folder;
    file_id folder;
    char name[k_path_size];
};

// Replaces what is remembered: the last load of `path` ended with `outcome`
// (`content` is read only for LOADED_CONTENT).
void remember_load(const char *path, load_outcome outcome, const content_hash *content) noexcept;
// What the last load found, when `path` leads to the file it loaded: the
// same spelling, the same file, or the same name in the same folder.
loaded_file remembered_load(const char *path) noexcept;
// A save of `path`, the loaded file, succeeded: the file now holds
// `written`.
void remember_saved(const char *path, const content_hash &written) noexcept;
void forget_load() noexcept;

// The record itself, defined with the rest of the library's state; only the
// functions above change it.
extern char s_loaded_path[k_path_size];
extern loaded_file s_loaded;
extern file_place s_loaded_place;

#endif
