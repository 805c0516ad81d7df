// What the last hosts_load found at its path, so that a save to that path
// can tell whether another program changed the file in the meantime.
#ifndef QUENDRAL_HOSTS_LOAD_MEMORY_H
#define QUENDRAL_HOSTS_LOAD_MEMORY_H

#include <cstddef>
#include <cstdint>

// xxHash64 (seed 0) of a byte stream fed in pieces of any size: fast enough
// to run over every byte a load reads and a save writes, and strong enough
// that a change goes unnoticed with a chance of one in 2^64.
class content_hash {
public:
    void add(const void *data, std::size_t size) noexcept;
    std::uint64_t value() const noexcept;
    std::uint64_t size() const noexcept { return total_; }

private:
    void add_stripe(const unsigned char *stripe) noexcept;

    std::uint64_t lanes_[4] = {0x60ea27eeadc0b5d6ULL, 0xc2b2ae3d27d4eb4fULL, 0,
                               0x61c8864e7a143579ULL};
    unsigned char pending_[32] = {};
    std::size_t pending_size_ = 0;
    std::uint64_t total_ = 0;
};

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

#endif
