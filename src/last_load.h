// What the last hosts_load found at its path, so that a save to that path
// can tell whether another program changed the file in the meantime.
#ifndef QUENDRAL_HOSTS_LAST_LOAD_H
#define QUENDRAL_HOSTS_LAST_LOAD_H

#include <cstdint>

#include "content_hash.h"
#include "platform.h"

enum load_outcome {
    NEVER_LOADED,  // the path was not the last one loaded
    LOADED_ABSENT,
    LOADED_CONTENT,
    LOAD_FAILED,
};

struct loaded_file {
    load_outcome outcome;
    std::uint64_t size;  // size and hash of the bytes, for LOADED_CONTENT
    std::uint64_t hash;
};

// Replaces what is remembered: the last load of `path` ended with `outcome`
// (`content` is read only for LOADED_CONTENT).
void remember_load(const char *path, load_outcome outcome, const content_hash *content) noexcept;
// What the last load found, when `path` is the path it loaded.
loaded_file remembered_load(const char *path) noexcept;
// A save to the loaded path succeeded: the file now holds `written`.
void remember_saved(const content_hash &written) noexcept;
void forget_load() noexcept;

// The record itself, defined with the rest of the library's state; only the
// functions above change it.
extern char s_loaded_path[k_path_size];
extern loaded_file s_loaded;

#endif
