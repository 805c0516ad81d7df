// The hash by which a save tells whether the file still holds what the last
// load read.
#ifndef QUENDRAL_HOSTS_CONTENT_HASH_H
#define QUENDRAL_HOSTS_CONTENT_HASH_H

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

#endif
