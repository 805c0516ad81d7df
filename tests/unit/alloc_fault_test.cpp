// Memory running out at each allocation of an operation in turn: the
// operation must fail cleanly, leave the tables as promised, leak nothing
// (the sanitizer build checks that at exit), and the next call must work.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/xattr.h>
#endif

#include "hooks.h"
#include "hosts_internal.h"
#include "support/test_support.h"

namespace {

long allocations_made;
long failing_allocation;  // index of the allocation that fails

void *countdown_resize(void *block, std::size_t old_size, std::size_t new_size) {
    return allocations_made++ == failing_allocation
               ? nullptr
               : native_memory.resize(block, old_size, new_size);
}

using AllocFaultTest = HostsTest;

// Runs `operation` with its first, second, third... allocation failing until
// it runs through without meeting the failure; `check_failed` runs after
// each failed attempt with the normal allocator back in place. Returns the
// number of allocation points found.
long fail_each_allocation(const std::function<int()> &operation,
                          const std::function<void()> &check_failed) {
    for (failing_allocation = 0;; ++failing_allocation) {
        allocations_made = 0;
        const qh_memory counting = {.resize = countdown_resize, .release = native_memory.release};
        s_hooks.memory = &counting;
        int rc = operation();
        restore_native_hooks();
        if (allocations_made <= failing_allocation) {
            EXPECT_GE(rc, 0) << "failed with no allocation failing: " << hosts_last_error();
            return failing_allocation;
        }
        SCOPED_TRACE("allocation " + std::to_string(failing_allocation) + " failed");
        EXPECT_EQ(rc, -1);
        check_failed();
        if (::testing::Test::HasFailure())
            return failing_allocation;
    }
}

}  // namespace

TEST_F(AllocFaultTest, LoadFailsAtEveryAllocationWithEmptyTables) {
    // Enough lines to grow both tables twice, one passthrough copy per
    // comment line, and a line long enough to grow the read buffer.
    std::string text = "# " + std::string(300000, 'x') + "\n";
    for (int i = 0; i < 40; ++i)
        text += "10.0.0." + std::to_string(i) + " h" + std::to_string(i) + "\n# note " +
                std::to_string(i) + "\n";
    load_text(text);
    const std::vector<std::string> records = records_json();
    const std::vector<std::string> passthrough = passthrough_lines();

    long points = fail_each_allocation(hosts_load, [&] {
        EXPECT_STREQ(hosts_last_error(), "out of memory while parsing");
        EXPECT_EQ(hosts_count(), 0);
        EXPECT_EQ(s_pass_count, 0);
        ASSERT_EQ(hosts_load(), 1) << hosts_last_error();
        EXPECT_EQ(records_json(), records);
        EXPECT_EQ(passthrough_lines(), passthrough);
    });
    EXPECT_GE(points, 48);  // buffer growth, 3 + 3 table growths, 41 copies
}

TEST_F(AllocFaultTest, AddFailsOnlyWhenTheTableGrowsAndChangesNothing) {
    // 2,048 records move off the heap when they grow, 4,096 grow in place
    // where the system offers large pages.
    for (int filled : {0, 16, 32, 2048, 4096}) {
        while (hosts_count() < filled)
            ASSERT_GE(hosts_add("10.1.1.1", "filler", "note"), 0);
        const std::vector<std::string> before = records_json();
        long points =
            fail_each_allocation([] { return hosts_add("10.2.2.2", "added", "new"); },
                                 [&] {
                                     EXPECT_STREQ(hosts_last_error(), "out of memory");
                                     EXPECT_EQ(records_json(), before);
                                     ASSERT_EQ(hosts_add("10.2.2.2", "added", "new"), filled);
                                     ASSERT_EQ(hosts_remove(filled), 1);
                                 });
        EXPECT_EQ(points, 1) << "with " << filled << " records";
        EXPECT_EQ(hosts_count(), filled + 1);
        ASSERT_EQ(hosts_remove(filled), 1);
    }
    // With room left, an add allocates nothing.
    long points =
        fail_each_allocation([] { return hosts_add("10.3.3.3", "roomy", nullptr); }, [] {});
    EXPECT_EQ(points, 0);
}

// A save of a file with nothing to copy beyond its bytes (no extended
// attributes) writes straight from the tables: with no memory left at all
// after the load, it still writes every line.
TEST_F(AllocFaultTest, SaveSucceedsWithNoMemoryLeftAfterTheLoad) {
    load_text("1.2.3.4 a # first\n# 5.6.7.8 b\n# header\n");
    ASSERT_GE(hosts_add("9.9.9.9", "c", nullptr), 0);
#if !defined(_WIN32)
    if (::listxattr(hosts.c_str(), nullptr, 0) > 0)
        GTEST_SKIP() << "files here carry extended attributes, which a save copies";
#endif
    const std::vector<std::string> records = records_json();
    const qh_memory no_memory = {
        .resize = [](void *, std::size_t, std::size_t) -> void * { return nullptr; },
        .release = native_memory.release,
    };
    s_hooks.memory = &no_memory;
    const int rc = hosts_save();
    restore_native_hooks();
    EXPECT_EQ(rc, 1) << hosts_last_error();
    EXPECT_EQ(read_bytes(hosts), "1.2.3.4 a # first\n# 5.6.7.8 b\n9.9.9.9 c\n# header\n");
    EXPECT_FALSE(fs::exists(hosts + ".tmp"));
    EXPECT_EQ(records_json(), records);
}

#if !defined(_WIN32)
// The save copies the old file's extended attributes through buffers from
// the library's allocator: memory running out at any of them fails the
// save before the file changes, and the save that gets its memory keeps
// every attribute.
TEST_F(AllocFaultTest, SaveCopyingAttributesFailsCleanlyAtEveryAllocation) {
    const std::string old_bytes = "1.2.3.4 a\n";
    load_text(old_bytes);
    if (::setxattr(hosts.c_str(), "user.qh-first", "one", 3, 0) != 0 ||
        ::setxattr(hosts.c_str(), "user.qh-second", "two", 3, 0) != 0)
        GTEST_SKIP() << "no user attributes on this file system: " << std::strerror(errno);
    ASSERT_GE(hosts_add("9.9.9.9", "c", nullptr), 0);
    const std::string tmp = hosts + ".tmp";

    long points = fail_each_allocation(hosts_save, [&] {
        EXPECT_EQ(hosts_last_error(),
                  "cannot open " + tmp + " for writing: Cannot allocate memory");
        EXPECT_EQ(read_bytes(hosts), old_bytes);
        EXPECT_FALSE(fs::exists(tmp));
        EXPECT_EQ(hosts_count(), 2);
    });
    EXPECT_GE(points, 3);  // the list of names, then each value
    EXPECT_EQ(read_bytes(hosts), "1.2.3.4 a\n9.9.9.9 c\n");
    char first[8] = {}, second[8] = {};
    EXPECT_EQ(::getxattr(hosts.c_str(), "user.qh-first", first, sizeof first), 3);
    EXPECT_EQ(::getxattr(hosts.c_str(), "user.qh-second", second, sizeof second), 3);
    EXPECT_STREQ(first, "one");
    EXPECT_STREQ(second, "two");
}
#endif
