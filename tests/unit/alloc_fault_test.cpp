// Memory running out at each allocation of an operation in turn: the
// operation must fail cleanly, leave the tables as promised, leak nothing
// (the sanitizer build checks that at exit), and the next call must work.
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "hosts_internal.h"
#include "support/test_support.h"

namespace {

long allocations_made;
long failing_allocation;  // index of the allocation that fails

void *countdown_resize(void *block, std::size_t old_size, std::size_t new_size) {
    return allocations_made++ == failing_allocation ? nullptr
                                                    : resize_block(block, old_size, new_size);
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
        s_realloc = countdown_resize;
        int rc = operation();
        s_realloc = resize_block;
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

TEST_F(AllocFaultTest, SaveNeedsNoHeapMemory) {
    load_text("1.2.3.4 a # first\n# 5.6.7.8 b\n# header\n");
    ASSERT_GE(hosts_add("9.9.9.9", "c", nullptr), 0);
    long points = fail_each_allocation(hosts_save, [] {});
    EXPECT_EQ(points, 0);
    EXPECT_EQ(read_bytes(hosts), "1.2.3.4 a # first\n# 5.6.7.8 b\n9.9.9.9 c\n# header\n");
    EXPECT_FALSE(fs::exists(hosts + ".tmp"));
}
