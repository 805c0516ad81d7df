// qh_runner: one library operation per process, through the public interface
// only, so that an outside timer (scripts/compare.sh) sees what a program
// using the library would see: start-up, load, work, save, exit.
#include <sys/mman.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "generate.h"
#include "quendral-hosts.h"

namespace {

const char kUsage[] =
    "usage: qh_runner generate ENTRIES OUT   write a generated hosts file of ENTRIES records\n"
    "       qh_runner list FILE              load FILE and read every record, print the count\n"
    "       qh_runner edit FILE              load FILE, add a record, remove it, save\n"
    "       qh_runner touch BYTES            allocate BYTES of memory and write to every page\n"
    "       qh_runner touch-huge BYTES       the same on memory advised for transparent huge "
    "pages\n";

int usage(const char *message) {
    std::fprintf(stderr, "qh_runner: %s\n%s", message, kUsage);
    return 2;
}

int library_failure() {
    std::fprintf(stderr, "qh_runner: %s\n", hosts_last_error());
    return 1;
}

int generate(const char *count_text, const char *out) {
    char *end = nullptr;
    errno = 0;
    const long count = std::strtol(count_text, &end, 10);
    if (errno != 0 || end == count_text || *end != '\0' || count < 0 || count > INT_MAX)
        return usage("ENTRIES must be a whole number of records");
    std::string error;
    if (!qh_bench::write_hosts_file(out, static_cast<int>(count), qh_bench::kDefaultSeed, error)) {
        std::fprintf(stderr, "qh_runner: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

// The least any program pays to hold BYTES of new memory: the system must
// hand over and zero every page. A load of N records holds N fixed-width
// records, so this is its floor, whatever the parsing costs. With `huge`,
// the memory is obtained as the library obtains a large table on Linux: a
// mapping aligned to 2 MiB and advised for transparent huge pages.
int touch(const char *bytes_text, bool huge) {
    char *end = nullptr;
    errno = 0;
    const unsigned long long bytes = std::strtoull(bytes_text, &end, 10);
    if (errno != 0 || end == bytes_text || *end != '\0' || bytes == 0)
        return usage("BYTES must be a positive whole number");
    const std::size_t size = static_cast<std::size_t>(bytes);
    char *memory = nullptr;
    if (huge) {
        const std::size_t align = std::size_t{2} << 20;
        void *raw = mmap(nullptr, size + align, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (raw != MAP_FAILED) {
            const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw);
            memory = reinterpret_cast<char *>((start + align - 1) & ~std::uintptr_t{align - 1});
            madvise(memory, size, MADV_HUGEPAGE);
        }
    } else {
        memory = static_cast<char *>(std::malloc(size));
    }
    if (memory == nullptr) {
        std::fprintf(stderr, "qh_runner: cannot allocate %llu bytes\n", bytes);
        return 1;
    }
    volatile char *pages = memory;
    for (std::size_t at = 0; at < size; at += 4096)
        pages[at] = 1;
    if (!huge)
        std::free(memory);
    return 0;
}

int list() {
    if (hosts_load() != 1)
        return library_failure();
    const int count = hosts_count();
    for (int i = 0; i < count; ++i) {
        const char *json = hosts_get(i);
        const std::size_t length = std::strlen(json);
        if (length == 0)
            return library_failure();
        // Looking at both ends makes the whole text count as read.
        if (json[0] != '{' || json[length - 1] != '}') {
            std::fprintf(stderr, "qh_runner: record %d is not a JSON object: %s\n", i, json);
            return 1;
        }
    }
    std::printf("%d\n", count);
    return 0;
}

int edit() {
    if (hosts_load() != 1)
        return library_failure();
    const int index = hosts_add("10.11.12.13", "qh-runner-edit.invalid", "added and removed again");
    if (index < 0 || hosts_remove(index) != 1 || hosts_save() != 1)
        return library_failure();
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2)
        return usage("no command given");
    const std::string command = argv[1];
    if (command == "generate")
        return argc == 4 ? generate(argv[2], argv[3]) : usage("generate needs ENTRIES OUT");
    if (command == "touch" || command == "touch-huge")
        return argc == 3 ? touch(argv[2], command == "touch-huge")
                         : usage((command + " needs BYTES").c_str());
    if (command != "list" && command != "edit")
        return usage(("unknown command: " + command).c_str());
    if (argc != 3)
        return usage((command + " needs FILE").c_str());
    // The library reads an empty path as the system hosts file, which this
    // program never touches.
    if (argv[2][0] == '\0')
        return usage("FILE must not be empty");
    if (hosts_set_path(argv[2]) != 1)
        return library_failure();
    return command == "list" ? list() : edit();
}
