// Where the library's memory comes from. Small blocks live on the heap.
// A block of k_large_block bytes or more (the record table of a big file)
// gets address space of its own, reserved with room to grow and committed
// as it grows: it never moves, so growing copies nothing, and on Linux its
// transparent huge pages stay whole. Whether a block is on the heap follows
// from its size alone, which every caller knows.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "hooks.h"
#include "hosts_internal.h"

namespace {

const std::size_t k_large_block = std::size_t{4} << 20;
// Address space set aside for a block that grows: far more than a table
// ever needs, and only address space until committed.
const std::size_t k_growth_room = std::size_t{1} << 36;  // 64 GiB

// Kept at the start of the reservation; the block's bytes follow it.
struct pages_header {
    std::size_t reserved;
    std::size_t committed;
};
const std::size_t k_header_size = 64;  // keeps the bytes cache-line aligned
static_assert(sizeof(pages_header) <= k_header_size, "the header fits its room");

bool on_pages(std::size_t size) {
    return size >= k_large_block && s_hooks.pages->granule() != 0;
}

std::size_t pages_needed(std::size_t size) {
    const std::size_t granule = s_hooks.pages->granule();
    return (size + k_header_size + granule - 1) / granule * granule;
}

pages_header *header_of(void *block) {
    return reinterpret_cast<pages_header *>(static_cast<char *>(block) - k_header_size);
}

// A new block on pages of its own; with `growing`, room to grow in place,
// less where the address space is limited (ulimit -v, valgrind).
void *new_paged_block(std::size_t size, bool growing) {
    const std::size_t committed = pages_needed(size);
    std::size_t reserved = growing ? std::max(k_growth_room, 2 * committed) : committed;
    char *base = static_cast<char *>(s_hooks.pages->reserve(reserved));
    while (base == nullptr && reserved > committed) {
        reserved = std::max(reserved / 4, committed);
        base = static_cast<char *>(s_hooks.pages->reserve(reserved));
    }
    if (base == nullptr)
        return nullptr;
    if (s_hooks.pages->commit(base, committed) != 0) {
        s_hooks.pages->release(base, reserved);
        return nullptr;
    }
    pages_header *header = reinterpret_cast<pages_header *>(base);
    header->reserved = reserved;
    header->committed = committed;
    return base + k_header_size;
}

void release_block(void *block, std::size_t size) noexcept {
    if (block == nullptr)
        return;
    if (!on_pages(size)) {
        std::free(block);
        return;
    }
    pages_header *header = header_of(block);
    s_hooks.pages->release(header, header->reserved);
}

void *resize_block(void *block, std::size_t old_size, std::size_t new_size) noexcept {
    if (!on_pages(new_size))
        return std::realloc(block, new_size);
    if (block != nullptr && on_pages(old_size)) {
        pages_header *header = header_of(block);
        const std::size_t needed = pages_needed(new_size);
        if (needed <= header->reserved) {
            if (needed > header->committed) {
                char *base = reinterpret_cast<char *>(header);
                if (s_hooks.pages->commit(base + header->committed, needed - header->committed) !=
                    0)
                    return nullptr;
                header->committed = needed;
            }
            return block;
        }
    }
    void *moved = new_paged_block(new_size, block != nullptr);
    if (moved != nullptr && block != nullptr) {
        std::memcpy(moved, block, old_size);
        release_block(block, old_size);
    }
    return moved;
}

}  // namespace

const qh_memory native_memory = {
    .resize = resize_block,
    .release = release_block,
};

void *resize_memory(void *block, std::size_t old_size, std::size_t new_size) noexcept {
    return s_hooks.memory->resize(block, old_size, new_size);
}

void release_memory(void *block, std::size_t size) noexcept {
    s_hooks.memory->release(block, size);
}

bool added_memory_is_zero(std::size_t size) noexcept {
    return on_pages(size);
}
