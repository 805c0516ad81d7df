#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hooks.h"
#include "hosts_internal.h"
#include "support/test_support.h"

namespace {

int allocations_left;

// Succeeds `allocations_left` more times, then reports memory exhausted.
void *limited_resize(void *block, std::size_t old_size, std::size_t new_size) {
    if (allocations_left-- <= 0)
        return nullptr;
    return native_memory.resize(block, old_size, new_size);
}

// The heap promises nothing about new memory: make that visible.
void *scribbling_resize(void *block, std::size_t old_size, std::size_t new_size) {
    char *bigger = static_cast<char *>(native_memory.resize(block, old_size, new_size));
    if (bigger != nullptr && !added_memory_is_zero(new_size))
        std::memset(bigger + old_size, 0x5a, new_size - old_size);
    return bigger;
}

const qh_memory limited_memory = {.resize = limited_resize, .release = native_memory.release};
const qh_memory scribbling_memory = {.resize = scribbling_resize, .release = native_memory.release};

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
    s_hooks.memory = &limited_memory;

    EXPECT_EQ(add_record("10.0.0.2", "new", 1, "", 0), -1);
    EXPECT_EQ(add_passthrough("# new"), -1);
    EXPECT_EQ(s_recs, records);
    EXPECT_EQ(s_pass, lines);
    EXPECT_EQ(s_rec_count, 16);
    EXPECT_EQ(s_pass_count, 16);
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(std::string(s_recs[i].name), "h" + std::to_string(i)) << i;

    // With memory back, the tables grow from where they were.
    allocations_left = 1000;
    ASSERT_EQ(add_record("10.0.0.2", "new", 1, "", 0), 1);
    ASSERT_EQ(add_passthrough("# new"), 1);
    EXPECT_EQ(hosts_count(), 17);
    EXPECT_EQ(hosts_get(16), json("10.0.0.2", "new", 1));
    EXPECT_STREQ(s_recs[15].name, "h15");
    EXPECT_EQ(passthrough_lines().back(), "# new");
}

TEST_F(StoreTest, PassthroughCopyFailureKeepsTheCount) {
    allocations_left = 1;  // the pointer array grows, the copy fails
    s_hooks.memory = &limited_memory;
    EXPECT_EQ(add_passthrough("# line"), -1);
    EXPECT_EQ(s_pass_count, 0);
    allocations_left = 1000;
    EXPECT_EQ(add_passthrough("# line"), 1);
    EXPECT_EQ(passthrough_lines(), std::vector<std::string>{"# line"});
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
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(add_record("10.0.0.1", "h", 1, "", 0), 1);
        ASSERT_EQ(add_passthrough("x"), 1);
    }
    reset_lists();
    EXPECT_EQ(s_recs, nullptr);
    EXPECT_EQ(s_pass, nullptr);
    EXPECT_EQ(hosts_count(), 0);
    EXPECT_EQ(s_pass_count, 0);
    EXPECT_STREQ(hosts_get(0), "");
    // The emptied tables fill again from nothing.
    ASSERT_EQ(add_record("10.0.0.2", "again", 1, "", 0), 1);
    ASSERT_EQ(add_passthrough("y"), 1);
    EXPECT_EQ(records_json(), std::vector<std::string>{json("10.0.0.2", "again", 1)});
    EXPECT_EQ(passthrough_lines(), std::vector<std::string>{"y"});
}

namespace {

// The system's pages, counted, and refused on demand.
struct {
    int reserves, commits, releases;
    bool refuse_reserve, refuse_commit;
    bool no_granule;
} pages;

std::size_t counted_granule() {
    return pages.no_granule ? 0 : native_pages.granule();
}
void *counted_reserve(std::size_t size) {
    ++pages.reserves;
    return pages.refuse_reserve ? nullptr : native_pages.reserve(size);
}
int counted_commit(void *at, std::size_t size) {
    ++pages.commits;
    return pages.refuse_commit ? -1 : native_pages.commit(at, size);
}
void counted_release(void *base, std::size_t size) {
    ++pages.releases;
    native_pages.release(base, size);
}

const qh_pages counted_pages = {
    .granule = counted_granule,
    .reserve = counted_reserve,
    .commit = counted_commit,
    .release = counted_release,
};

// A table of `count` records named after their index.
void fill_records(int count) {
    for (int i = hosts_count(); i < count; ++i)
        ASSERT_EQ(add_record("10.0.0.1", ("h" + std::to_string(i)).c_str(), 1, "", 0), 1);
}

void expect_records_intact() {
    for (int i = 0; i < hosts_count(); ++i)
        ASSERT_EQ(std::string(s_recs[i].name), "h" + std::to_string(i)) << i;
}

// The records that first outgrow the heap: 2,048 are 2.8 MB, 4,096 are 5.5.
const int k_heap_cap = 2048;

class LargeTableTest : public HostsTest {
protected:
    void SetUp() override {
        HostsTest::SetUp();
        pages = {};
        s_hooks.pages = &counted_pages;
    }
    // The tables go back through the pages they came from.
    void TearDown() override {
        reset_lists();
        HostsTest::TearDown();
    }
    void need_large_pages() {
        if (native_pages.granule() == 0)
            GTEST_SKIP() << "the system offers no transparent huge pages";
    }
};

}  // namespace

TEST_F(LargeTableTest, GrowsInPlaceOnPagesOfItsOwn) {
    need_large_pages();
    fill_records(k_heap_cap + 1);
    EXPECT_EQ(pages.reserves, 1);
    const host_record *on_pages = s_recs;
    fill_records(8 * k_heap_cap + 1);  // three more doublings
    EXPECT_EQ(s_recs, on_pages) << "the table moved";
    EXPECT_EQ(pages.reserves, 1);
    EXPECT_EQ(pages.commits, 4);
    expect_records_intact();
    reset_lists();
    EXPECT_EQ(pages.releases, 1);
}

TEST_F(LargeTableTest, RefusedPagesLeaveTheTableAsItWas) {
    need_large_pages();
    const struct {
        const char *refused;
        bool *refuse;
        int filled;
    } cases[] = {
        {"reserve", &pages.refuse_reserve, k_heap_cap},    // the move off the heap
        {"commit", &pages.refuse_commit, 2 * k_heap_cap},  // growing in place
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.refused);
        fill_records(c.filled);
        const host_record *before = s_recs;
        *c.refuse = true;
        EXPECT_EQ(hosts_add("10.9.9.9", "late", nullptr), -1);
        EXPECT_STREQ(hosts_last_error(), "out of memory");
        EXPECT_EQ(s_recs, before);
        EXPECT_EQ(hosts_count(), c.filled);
        expect_records_intact();
        *c.refuse = false;
        ASSERT_EQ(hosts_add("10.9.9.9", "late", nullptr), c.filled);
        EXPECT_EQ(hosts_get(c.filled), json("10.9.9.9", "late", 1));
        ASSERT_EQ(hosts_remove(c.filled), 1);
        expect_records_intact();
    }
}

TEST_F(LargeTableTest, WithoutLargePagesTablesStayOnTheHeap) {
    pages.no_granule = true;
    fill_records(4 * k_heap_cap + 1);
    ASSERT_EQ(hosts_remove(0), 1);
    EXPECT_EQ(std::string(s_recs[0].name), "h1");
    reset_lists();
    EXPECT_EQ(pages.reserves + pages.commits + pages.releases, 0);
}

TEST_F(StoreTest, SlotsFromTheHeapAreCleared) {
    s_hooks.memory = &scribbling_memory;
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(add_record("10.0.0.1", "h", 1, "", 0), 1);
    for (int i = 0; i < hosts_count(); ++i) {
        const host_record &rec = s_recs[i];
        ASSERT_EQ(std::string(rec.name, sizeof rec.name), "h" + std::string(255, '\0')) << i;
        ASSERT_EQ(std::string(rec.comment, sizeof rec.comment), std::string(1024, '\0')) << i;
        ASSERT_EQ(rec.has_comment, 0) << i;
    }
}

TEST_F(StoreTest, ReusedSlotsHoldNothingOfTheRemovedRecord) {
    ASSERT_EQ(add_record("10.0.0.1", "first", 0, "a long note", 1), 1);
    ASSERT_EQ(add_record("10.0.0.2", "second", 1, "", 0), 1);
    ASSERT_EQ(hosts_remove(1), 1);
    ASSERT_EQ(hosts_remove(0), 1);
    ASSERT_EQ(add_record("::1", "b", 1, "", 0), 1);
    EXPECT_EQ(std::string(s_recs[0].name, sizeof s_recs[0].name), "b" + std::string(255, '\0'));
    EXPECT_EQ(std::string(s_recs[0].comment, sizeof s_recs[0].comment), std::string(1024, '\0'));
}
