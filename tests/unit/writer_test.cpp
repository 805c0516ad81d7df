#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "hooks.h"
#include "hosts_internal.h"
#include "support/os_support.h"
#include "support/test_support.h"

using Lines = std::vector<std::string>;
using WriterTest = HostsTest;

namespace {
const char k_old_file[] = "1.1.1.1 old\n";
}

TEST_F(WriterTest, WritesEveryKindOfLine) {
    load_text(
        "# header\r\n"
        "127.0.0.1 localhost\r\n"
        "10.0.0.1 a b # shared\r\n"
        "# 10.0.0.2 off\r\n"
        "#10.0.0.3 off2 #  kept note \r\n"
        "  odd line  \r\n");
    ASSERT_EQ(hosts_add("::1", "added", " raw "), 5);
    ASSERT_EQ(hosts_set_enabled(0, 0), 1);
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    EXPECT_STREQ(hosts_last_error(), "");
    EXPECT_EQ(read_bytes(hosts),
              "# 127.0.0.1 localhost\n"
              "10.0.0.1 a # shared\n"
              "10.0.0.1 b # shared\n"
              "# 10.0.0.2 off\n"
              "# 10.0.0.3 off2 # kept note\n"
              "::1 added #  raw \n"
              "# header\n"
              "odd line\n");
    EXPECT_FALSE(fs::exists(hosts + ".tmp"));
}

TEST_F(WriterTest, SaveThenLoadGivesTheSameRecords) {
    load_text("1.1.1.1 a # one\n# 2.2.2.2 b # two\n# just words\n");
    ASSERT_EQ(hosts_set_enabled(0, 0), 1);  // a disabled record keeps its comment
    ASSERT_EQ(hosts_add("3.3.3.3", "c", "  padded\t"), 2);
    ASSERT_EQ(hosts_add("4.4.4.4", "d", "   "), 3);
    Lines before = records_json();
    Lines lines = passthrough_lines();
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    ASSERT_EQ(hosts_load(), 1);
    before[2] = json("3.3.3.3", "c", 1, "padded");
    before[3] = json("4.4.4.4", "d", 1);
    EXPECT_EQ(records_json(), before);
    EXPECT_EQ(passthrough_lines(), lines);
    EXPECT_EQ(records_json()[0], json("1.1.1.1", "a", 0, "one"));
}

TEST_F(WriterTest, EmptyTablesGiveAnEmptyFile) {
    write_bytes(hosts, "1.2.3.4 old\n");
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    EXPECT_EQ(read_bytes(hosts), "");
}

TEST_F(WriterTest, CreatesAMissingFile) {
    ASSERT_EQ(hosts_add("1.2.3.4", "new", nullptr), 0);
    ASSERT_FALSE(fs::exists(hosts));
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    EXPECT_EQ(read_bytes(hosts), "1.2.3.4 new\n");
    EXPECT_FALSE(fs::exists(hosts + ".tmp"));
}

TEST_F(WriterTest, StaleTemporaryFileIsReplaced) {
    write_bytes(hosts + ".tmp", std::string(100000, 'j'));
    ASSERT_EQ(hosts_add("1.2.3.4", "a", nullptr), 0);
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    EXPECT_EQ(read_bytes(hosts), "1.2.3.4 a\n");
    EXPECT_FALSE(fs::exists(hosts + ".tmp"));
}

// Someone who can write the folder plants a link at the temporary name to
// make the save write through it: the link is replaced as a name, and what
// it leads to keeps every byte.
TEST_F(WriterTest, PlantedLinkAtTheTemporaryNameIsNotFollowed) {
    const std::string victim = dir.file("victim");
    for (bool symbolic : {true, false}) {
        SCOPED_TRACE(symbolic ? "symbolic link" : "hard link");
        write_bytes(victim, "precious\n");
        load_text(k_old_file);
        if (!plant_link(victim, hosts + ".tmp", symbolic)) {
            std::printf("skipped: cannot make a %s link here\n", symbolic ? "symbolic" : "hard");
            continue;
        }
        ASSERT_GE(hosts_add("1.2.3.4", "new", nullptr), 0);
        ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
        EXPECT_EQ(read_bytes(victim), "precious\n");
        EXPECT_EQ(read_bytes(hosts), std::string(k_old_file) + "1.2.3.4 new\n");
        EXPECT_FALSE(fs::exists(hosts + ".tmp"));
    }
}

TEST_F(WriterTest, FolderInTheWayIsLeftAlone) {
    ASSERT_TRUE(fs::create_directory(hosts));
    write_bytes(hosts + "/inside", "x");
    ASSERT_EQ(hosts_add("1.2.3.4", "a", nullptr), 0);
    EXPECT_EQ(hosts_save(), -1);
    EXPECT_EQ(hosts_last_error(), "not replacing " + hosts + ": not a regular file");
    EXPECT_TRUE(fs::is_directory(hosts));
    EXPECT_EQ(read_bytes(hosts + "/inside"), "x");
    EXPECT_FALSE(fs::exists(hosts + ".tmp"));
}

namespace {

// Every failure a save can meet, injected into the platform layer.
qh_system injected;
qh_file_methods injected_files;
int writes_before_failure;

void injected_error(sys_error *err) {
    std::snprintf(err->text, sizeof err->text, "injected");
}

file_status failing_create(const char *, const char *, qh_file **, sys_error *err) {
    injected_error(err);
    return FILE_FAILED;
}

// Writes half of the block for real, then fails, so a partial file exists.
int failing_write(qh_file *file, const void *data, std::size_t size, sys_error *err) {
    if (writes_before_failure-- > 0)
        return native_file_methods.write_all(file, data, size, err);
    native_file_methods.write_all(file, data, size / 2, err);
    injected_error(err);
    return -1;
}

int failing_sync(qh_file *file, sys_error *err) {
    native_file_methods.sync(file, err);
    injected_error(err);
    return -1;
}

file_status blocked_probe(const char *, sys_error *err) {
    injected_error(err);
    return FILE_FAILED;
}

file_status failing_replace(qh_file *, const char *, const char *, sys_error *err) {
    injected_error(err);
    return FILE_FAILED;
}

}  // namespace

TEST_F(WriterTest, EveryFailureLeavesTheOldFileAndNoTemporaryFile) {
    const std::string tmp = hosts + ".tmp";
    const std::string rename_failed = "rename " + tmp + " -> " + hosts + " failed: injected";
    const std::string writing_failed = "failed writing " + tmp + ": injected";
    const struct {
        const char *what;
        void (*inject)(qh_system &, qh_file_methods &);
        std::string error;
    } cases[] = {
        {"create", [](qh_system &p, qh_file_methods &) { p.create_temp = failing_create; },
         "cannot open " + tmp + " for writing: injected"},
        {"first write",
         [](qh_system &, qh_file_methods &f) {
             f.write_all = failing_write;
             writes_before_failure = 0;
         },
         writing_failed},
        {"later write",
         [](qh_system &, qh_file_methods &f) {
             f.write_all = failing_write;
             writes_before_failure = 3;
         },
         writing_failed},
        {"flush and close", [](qh_system &, qh_file_methods &f) { f.sync = failing_sync; },
         writing_failed},
        {"probe", [](qh_system &p, qh_file_methods &) { p.probe = blocked_probe; }, rename_failed},
        {"replace", [](qh_system &, qh_file_methods &f) { f.replace = failing_replace; },
         rename_failed},
    };
    const std::string old_bytes = "# the old file\n1.2.3.4 old\n";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        write_bytes(hosts, old_bytes);
        reset_lists();
        for (int i = 0; i < 5000; ++i)
            ASSERT_GE(hosts_add("10.1.2.3", ("host" + std::to_string(i)).c_str(), "x"), 0);
        injected = native_system;
        injected_files = native_file_methods;
        c.inject(injected, injected_files);
        s_hooks.system = &injected;
        s_hooks.files = &injected_files;

        EXPECT_EQ(hosts_save(), -1);
        EXPECT_EQ(hosts_last_error(), c.error);
        EXPECT_EQ(read_bytes(hosts), old_bytes);
        EXPECT_FALSE(fs::exists(tmp));
        EXPECT_EQ(hosts_count(), 5000);
        restore_native_hooks();
    }
}

// Whatever the loader makes of a file, saving and loading again must give
// the same records and lines, and a second save the same bytes.
TEST_F(WriterTest, SavedFilesReadBackUnchanged) {
    const char *const addresses[] = {"127.0.0.1", "::1",        "fe80::1",
                                     "999.1.1.1", "10.0.0.1#c", "text"};
    const char *const names[] = {"host", "a.b-c", "bad/name", "name#c", "\xc3\xa9", "#", "x"};
    const char *const comments[] = {"# note", "#", "#x y", "## two", "# \t padded \t"};
    const char *const blanks[] = {" ", "\t", "  "};
    std::mt19937 random(7);
    auto pick = [&random](const auto &choices) {
        return std::string(choices[random() % std::size(choices)]);
    };
    for (int round = 0; round < 300; ++round) {
        std::string text;
        for (int line = 0; line < 10; ++line) {
            if (random() % 3 == 0)
                text += "#" + std::string(random() % 2 ? " " : "");
            if (random() % 5)
                text += pick(addresses);
            for (int n = static_cast<int>(random() % 4); n > 0; --n)
                text += pick(blanks) + pick(names);
            if (random() % 2)
                text += pick(blanks) + pick(comments);
            text += random() % 4 ? "\n" : "\r\n";
        }
        load_text(text);
        ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
        const Lines records = records_json();
        const Lines lines = passthrough_lines();
        const std::string first_save = read_bytes(hosts);
        ASSERT_EQ(hosts_load(), 1);
        ASSERT_EQ(records_json(), records) << text;
        ASSERT_EQ(passthrough_lines(), lines) << text;
        ASSERT_EQ(hosts_save(), 1);
        ASSERT_EQ(read_bytes(hosts), first_save) << text;
    }
}
