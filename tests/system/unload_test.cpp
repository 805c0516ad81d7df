// A host that loads the library, fills its tables, unloads it and loads it
// again, over and over, must not keep the memory of the earlier copies.
#include <cstdio>
#include <string>

#include "helpers/crash_content.h"
#include "quendral-hosts.h"
#include "support/os_support.h"
#include "support/test_support.h"

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer holds freed memory back from reuse, up to 256 MB by
// default: in a program that has freed little before, that hold grows
// through some 45 cycles of this test, which would take it for a leak. A
// hold of 64 MB is full within the first few cycles. ASAN_OPTIONS still
// overrides it.
extern "C" __attribute__((visibility("default"), used)) const char *__asan_default_options() {
    return "quarantine_size_mb=64";
}
#endif

namespace {

template <typename Fn>
Fn symbol(void *library, const char *name) {
    return reinterpret_cast<Fn>(find_symbol(library, name));
}

// Loads the library, loads `hosts` into it and unloads it again; returns the
// growth of resident memory while the tables were held.
std::size_t load_and_unload(const std::string &hosts) {
    void *library = open_library(library_file());
    EXPECT_NE(library, nullptr) << library_file();
    if (library == nullptr)
        return 0;
    auto set_path = symbol<decltype(&hosts_set_path)>(library, "hosts_set_path");
    auto load = symbol<decltype(&hosts_load)>(library, "hosts_load");
    auto count = symbol<decltype(&hosts_count)>(library, "hosts_count");
    // A fresh count shows that the earlier copy was really unloaded.
    EXPECT_EQ(count(), 0) << "the library was not unloaded";
    std::size_t before = resident_bytes();
    EXPECT_EQ(set_path(hosts.c_str()), 1);
    EXPECT_EQ(load(), 1);
    EXPECT_EQ(count(), k_crash_records);
    std::size_t loaded = resident_bytes();
    close_library(library);
    return loaded > before ? loaded - before : 0;
}

}  // namespace

TEST(Unload, TablesAreFreedWhenTheLibraryIsUnloaded) {
    TempDir dir;
    const std::string hosts = dir.file("hosts");
    write_bytes(hosts, crash_file("unload"));

    const int cycles = 50;
    // A leak grows by one table per cycle; what the allocator keeps back
    // after a free (a sanitizer's quarantine, say) stops growing after a few
    // cycles. So the growth is measured over the second half only, and the
    // allowance is one cycle's table.
    std::size_t table = load_and_unload(hosts);
    ASSERT_GT(table, 0u) << "loading the file took no measurable memory";
    std::size_t halfway = 0;
    for (int cycle = 1; cycle < cycles; ++cycle) {
        load_and_unload(hosts);
        if (HasFailure())
            return;
        if (cycle == cycles / 2)
            halfway = resident_bytes();
    }
    std::size_t end = resident_bytes();
    std::size_t growth = end > halfway ? end - halfway : 0;
    std::printf("one table: %zu KiB; resident growth over the last %d cycles: %zu KiB\n",
                table / 1024, cycles - 1 - cycles / 2, growth / 1024);
    RecordProperty("table_kib", std::to_string(table / 1024));
    RecordProperty("growth_kib", std::to_string(growth / 1024));
    EXPECT_LT(growth, table);
}
