// xxHash64, as its reference describes it, for a stream fed in pieces.
#include "content_hash.h"

#include <cstring>

namespace {

const std::uint64_t k_prime1 = 0x9e3779b185ebca87ULL;
const std::uint64_t k_prime2 = 0xc2b2ae3d27d4eb4fULL;
const std::uint64_t k_prime3 = 0x165667b19e3779f9ULL;
const std::uint64_t k_prime4 = 0x85ebca77c2b2ae63ULL;
const std::uint64_t k_prime5 = 0x27d4eb2f165667c5ULL;

std::uint64_t rotl(std::uint64_t x, int bits) {
    return (x << bits) | (x >> (64 - bits));
}

std::uint64_t read64(const unsigned char *p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;  // little-endian, as on every system this library builds for
}

std::uint32_t read32(const unsigned char *p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::uint64_t mix(std::uint64_t lane, std::uint64_t input) {
    return rotl(lane + input * k_prime2, 31) * k_prime1;
}

std::uint64_t merge(std::uint64_t hash, std::uint64_t lane) {
    return (hash ^ mix(0, lane)) * k_prime1 + k_prime4;
}

}  // namespace

void content_hash::add_stripe(const unsigned char *stripe) noexcept {
    for (int i = 0; i < 4; ++i)
        lanes_[i] = mix(lanes_[i], read64(stripe + 8 * i));
}

void content_hash::add(const void *data, std::size_t size) noexcept {
    const unsigned char *p = static_cast<const unsigned char *>(data);
    total_ += size;
    if (pending_size_ > 0) {
        std::size_t take = size < 32 - pending_size_ ? size : 32 - pending_size_;
        std::memcpy(pending_ + pending_size_, p, take);
        pending_size_ += take;
        p += take;
        size -= take;
        if (pending_size_ < 32)
            return;
        add_stripe(pending_);
        pending_size_ = 0;
    }
    for (; size >= 32; p += 32, size -= 32)
        add_stripe(p);
    std::memcpy(pending_, p, size);
    pending_size_ = size;
}

std::uint64_t content_hash::value() const noexcept {
    std::uint64_t h = k_prime5;
    if (total_ >= 32) {
        h = rotl(lanes_[0], 1) + rotl(lanes_[1], 7) + rotl(lanes_[2], 12) + rotl(lanes_[3], 18);
        for (std::uint64_t lane : lanes_)
            h = merge(h, lane);
    }
    h += total_;
    const unsigned char *p = pending_;
    std::size_t left = pending_size_;
    for (; left >= 8; p += 8, left -= 8)
        h = rotl(h ^ mix(0, read64(p)), 27) * k_prime1 + k_prime4;
    if (left >= 4) {
        h = rotl(h ^ read32(p) * k_prime1, 23) * k_prime2 + k_prime3;
        p += 4;
        left -= 4;
    }
    for (; left > 0; ++p, --left)
        h = rotl(h ^ *p * k_prime5, 11) * k_prime1;
    h = (h ^ (h >> 33)) * k_prime2;
    h = (h ^ (h >> 29)) * k_prime3;
    return h ^ (h >> 32);
}
