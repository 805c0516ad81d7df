#include <cstdlib>
#include <cstring>
#include <string>

#include "hosts_internal.h"
#include "support/test_support.h"

namespace {

int allocations_left;

// Succeeds `allocations_left` more times, then reports memory exhausted.
void *limited_resize(void *block, std::size_t old_size, std::size_t new_size) {
    if (allocations_left-- <= 0)
        return nullptr;
    return resize_block(block, old_size, new_size);
}

}  // namespace

using StoreTest = HostsTest;

TEST_F(StoreTest, TablesGrowFrom16ByDoubling) {
    EXPECT_EQ(s_rec_cap, 0);
    EXPECT_EQ(s_recs, nullptr);
    const struct {
        int appended;
        int cap;
    } steps[] = {{1, 16}, {16, 16}, {17, 32}, {32, 32}, {33, 64}};
    int appended = 0;
    for (const auto &step : steps) {
        for (; appended < step.appended; ++appended) {
            ASSERT_EQ(add_record("10.0.0.1", "h", 1, "", 0), 1);
            ASSERT_EQ(add_passthrough("# line"), 1);
        }
        EXPECT_EQ(s_rec_cap, step.cap) << "after " << appended;
        EXPECT_EQ(s_pass_cap, step.cap) << "after " << appended;
    }
    EXPECT_EQ(hosts_count(), 33);
    EXPECT_EQ(s_pass_count, 33);
}

TEST_F(StoreTest, FailedGrowthChangesNothing) {
    for (int i = 0; i < 16; ++i) {
        ASSERT_EQ(add_record("10.0.0.1", ("h" + std::to_string(i)).c_str(), 1, "", 0), 1);
        ASSERT_EQ(add_passthrough("# kept"), 1);
    }
    host_record *records = s_recs;
    char **lines = s_pass;
    allocations_left = 0;
    s_realloc = limited_resize;

    EXPECT_EQ(add_record("10.0.0.2", "new", 1, "", 0), -1);
    EXPECT_EQ(add_passthrough("# new"), -1);
    EXPECT_EQ(s_recs, records);
    EXPECT_EQ(s_pass, lines);
    EXPECT_EQ(s_rec_count, 16);
    EXPECT_EQ(s_rec_cap, 16);
    EXPECT_EQ(s_pass_count, 16);
    EXPECT_STREQ(s_recs[15].name, "h15");
}

TEST_F(StoreTest, PassthroughCopyFailureKeepsTheCount) {
    allocations_left = 1;  // the pointer array grows, the copy fails
    s_realloc = limited_resize;
    EXPECT_EQ(add_passthrough("# line"), -1);
    EXPECT_EQ(s_pass_count, 0);
    EXPECT_EQ(s_pass_cap, 16);
}

TEST_F(StoreTest, RecordFieldsAreZeroFilledAndCut) {
    std::string long_name(300, 'n');
    std::string long_comment(1500, 'c');
    ASSERT_EQ(add_record("::1", long_name.c_str(), 0, long_comment.c_str(), 1), 1);
    ASSERT_EQ(add_record("::1", "b", 1, "ignored", 0), 1);

    const host_record &cut = s_recs[0];
    EXPECT_EQ(std::string(cut.name), long_name.substr(0, 255));
    EXPECT_EQ(std::string(cut.comment), long_comment.substr(0, 1023));
    EXPECT_EQ(cut.has_comment, 1);
    EXPECT_EQ(cut.enabled, 0);
    for (std::size_t i = 3; i < sizeof cut.ip; ++i)
        ASSERT_EQ(cut.ip[i], '\0') << i;

    const host_record &plain = s_recs[1];
    EXPECT_EQ(plain.has_comment, 0);
    for (char byte : plain.comment)
        ASSERT_EQ(byte, '\0');
}

TEST_F(StoreTest, ResetEmptiesBothTables) {
    reset_lists();
    EXPECT_EQ(s_rec_cap, 0);
    ASSERT_EQ(add_record("10.0.0.1", "h", 1, "", 0), 1);
    ASSERT_EQ(add_passthrough("x"), 1);
    reset_lists();
    EXPECT_EQ(s_recs, nullptr);
    EXPECT_EQ(s_pass, nullptr);
    EXPECT_EQ(s_rec_count + s_rec_cap + s_pass_count + s_pass_cap, 0);
    ASSERT_EQ(add_record("10.0.0.1", "h", 1, "", 0), 1);
    EXPECT_EQ(s_rec_cap, 16);
}
