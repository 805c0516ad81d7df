// Large blocks on Linux: an anonymous mapping aligned to the huge page size,
// so that transparent huge pages fill it (advised for them where the kernel
// wants advice). A fault then hands over 2 MiB at a time instead of 4 KiB,
// the bulk of what a load of a big file costs. Where
// the kernel offers no transparent huge pages (or elsewhere than Linux),
// large blocks stay on the heap.
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "../platform.h"

namespace {

#if defined(__linux__) && defined(MADV_HUGEPAGE)

const char k_thp_dir[] = "/sys/kernel/mm/transparent_hugepage/";

// The first line of a file under k_thp_dir, or "" when it cannot be read.
void read_setting(const char *name, char *text, std::size_t size) {
    char path[96];
    std::snprintf(path, sizeof path, "%s%s", k_thp_dir, name);
    text[0] = '\0';
    std::FILE *file = std::fopen(path, "re");
    if (file == nullptr)
        return;
    if (std::fgets(text, static_cast<int>(size), file) == nullptr)
        text[0] = '\0';
    std::fclose(file);
}

struct huge_pages {
    std::size_t size;  // 0: none to be had
    bool need_advice;  // the kernel gives them only to regions advised for them
};

// Advice also makes a fault compact memory on the spot when no free huge
// page is at hand (with the usual `defrag` settings), so it is given only
// where huge pages are not had without it.
huge_pages find_huge_pages() {
    char text[64];
    read_setting("enabled", text, sizeof text);
    // "always [madvise] never": the bracketed word is the one in force.
    if (text[0] == '\0' || std::strstr(text, "[never]") != nullptr)
        return {0, false};
    const bool need_advice = std::strstr(text, "[always]") == nullptr;
    read_setting("hpage_pmd_size", text, sizeof text);
    unsigned long long size = 0;
    if (std::sscanf(text, "%llu", &size) != 1 || size == 0 || (size & (size - 1)) != 0)
        return {0, false};
    return {static_cast<std::size_t>(size), need_advice};
}

const huge_pages &system_huge_pages() {
    static const huge_pages found = find_huge_pages();
    return found;
}

std::size_t granule() {
    return system_huge_pages().size;
}

void *reserve(std::size_t size) {
    // Over-reserve by one granule, then trim both ends to the alignment.
    const std::size_t align = granule();
    void *raw = ::mmap(nullptr, size + align, PROT_NONE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + align - 1) & ~static_cast<std::uintptr_t>(align - 1);
    char *base = reinterpret_cast<char *>(aligned);
    if (aligned > start)
        ::munmap(raw, aligned - start);
    if (aligned < start + align)
        ::munmap(base + size, start + align - aligned);
    if (system_huge_pages().need_advice)
        ::madvise(base, size, MADV_HUGEPAGE);
    return base;
}

int commit(void *at, std::size_t size) {
    return ::mprotect(at, size, PROT_READ | PROT_WRITE) == 0 ? 0 : -1;
}

void release(void *base, std::size_t size) {
    ::munmap(base, size);
}

#else

std::size_t granule() {
    return 0;
}
void *reserve(std::size_t) {
    return nullptr;
}
int commit(void *, std::size_t) {
    return -1;
}
void release(void *, std::size_t) {}

#endif

}  // namespace

const qh_pages native_pages = {
    .granule = granule,
    .reserve = reserve,
    .commit = commit,
    .release = release,
};
