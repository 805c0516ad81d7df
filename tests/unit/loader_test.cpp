#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "hosts_internal.h"
#include "support/test_support.h"

using namespace std::string_literals;
using Lines = std::vector<std::string>;

struct LoadCase {
    const char *what;
    std::string text;
    Lines records;
    Lines passthrough;
};

using LoaderTest = HostsTest;

TEST_F(LoaderTest, EveryLineClass) {
    const std::string long_comment(1023, 'c');
    const std::string too_long_comment(1024, 'c');
    const std::string longest_name(253, 'n');
    const LoadCase cases[] = {
        {"empty file", "", {}, {}},
        {"blank lines only", "\n  \n\t\r\n\n", {}, {}},
        {"plain entry", "127.0.0.1 localhost\n", {json("127.0.0.1", "localhost", 1)}, {}},
        {"no final line feed", "::1 localhost", {json("::1", "localhost", 1)}, {}},
        {"CR LF like LF", "1.2.3.4 a\r\n# c\r\n", {json("1.2.3.4", "a", 1)}, {"# c"}},
        {"comment after blank",
         "127.0.0.1 myhost # two words\n",
         {json("127.0.0.1", "myhost", 1, "two words")},
         {}},
        {"comment glued to name",
         "127.0.0.1 myhost#note\n",
         {json("127.0.0.1", "myhost", 1, "note")},
         {}},
        {"bare hash", "127.0.0.1 myhost #\n", {json("127.0.0.1", "myhost", 1)}, {}},
        {"several names",
         "127.0.0.1 a b\tc # n\n",
         {json("127.0.0.1", "a", 1, "n"), json("127.0.0.1", "b", 1, "n"),
          json("127.0.0.1", "c", 1, "n")},
         {}},
        {"one bad name keeps the whole line", "127.0.0.1 a b/c d\n", {}, {"127.0.0.1 a b/c d"}},
        {"disabled entry",
         "# 127.0.0.1 myhost\n#10.0.0.1\tother\n",
         {json("127.0.0.1", "myhost", 0), json("10.0.0.1", "other", 0)},
         {}},
        {"disabled entry with comment",
         "#  127.0.0.1 myhost  #  note here \n",
         {json("127.0.0.1", "myhost", 0, "note here")},
         {}},
        {"disabled entry with bare hash",
         "# 127.0.0.1 myhost #\n",
         {json("127.0.0.1", "myhost", 0)},
         {}},
        {"disabled hash glued to name",
         "# 127.0.0.1 myhost#note\n",
         {},
         {"# 127.0.0.1 myhost#note"}},
        {"disabled line with two names", "# 127.0.0.1 a b\n", {}, {"# 127.0.0.1 a b"}},
        {"prose comment", "# 10.0.0.1 is the gateway\n", {}, {"# 10.0.0.1 is the gateway"}},
        {"double hash", "## 127.0.0.1 myhost\n", {}, {"## 127.0.0.1 myhost"}},
        {"address alone", "  127.0.0.1  \n", {}, {"127.0.0.1"}},
        {"name alone", "localhost\n", {}, {"localhost"}},
        {"bad address", "999.1.1.1 host # c\n", {}, {"999.1.1.1 host # c"}},
        {"leading blanks trimmed", " \t 10.0.0.1 a\t \n", {json("10.0.0.1", "a", 1)}, {}},
        {"byte-order mark",
         "\xEF\xBB\xBF"
         "127.0.0.1 localhost\n",
         {},
         {"\xEF\xBB\xBF"
          "127.0.0.1 localhost"}},
        {"bare CR does not end a line", "1.2.3.4 a\r5.6.7.8 b\r", {}, {"1.2.3.4 a\r5.6.7.8 b"}},
        {"vertical tab is a token character",
         "1.2.3.4 a\v\n\f1.2.3.4 b\n",
         {},
         {"1.2.3.4 a\v", "\f1.2.3.4 b"}},
        {"leading CR is a token character", "\r1.2.3.4 a\n", {}, {"\r1.2.3.4 a"}},
        {"comment of 1023 kept",
         "1.2.3.4 a #" + long_comment + "\n",
         {json("1.2.3.4", "a", 1, long_comment)},
         {}},
        {"comment of 1024 keeps the line",
         "1.2.3.4 a #" + too_long_comment + "\n",
         {},
         {"1.2.3.4 a #" + too_long_comment}},
        {"disabled comment of 1024 keeps the line",
         "# 1.2.3.4 a # " + too_long_comment + "\n",
         {},
         {"# 1.2.3.4 a # " + too_long_comment}},
        {"longest name as a later name",
         "1.2.3.4 a " + longest_name + "\n",
         {json("1.2.3.4", "a", 1), json("1.2.3.4", longest_name, 1)},
         {}},
        {"a later name one byte too long keeps the line",
         "1.2.3.4 a " + longest_name + "n\n",
         {},
         {"1.2.3.4 a " + longest_name + "n"}},
        {"disabled name one byte too long keeps the line",
         "# 1.2.3.4 " + longest_name + "n\n",
         {},
         {"# 1.2.3.4 " + longest_name + "n"}},
        {"oversized tokens keep the line",
         "1.2.3.4 " + std::string(300, 'n') + "\n",
         {},
         {"1.2.3.4 " + std::string(300, 'n')}},
    };
    for (const LoadCase &c : cases) {
        SCOPED_TRACE(c.what);
        load_text(c.text);
        EXPECT_EQ(records_json(), c.records);
        EXPECT_EQ(passthrough_lines(), c.passthrough);
    }
}

TEST_F(LoaderTest, LongLineStaysOneLine) {
    // Past any fixed read size, a later part of the line must not turn into
    // a line of its own, let alone a live entry.
    std::string comment = "# " + std::string(40000, 'x') + " 10.0.0.1 evil.example";
    load_text("1.2.3.4 a\n" + comment + "\n5.6.7.8 b\n");
    EXPECT_EQ(records_json(), (Lines{json("1.2.3.4", "a", 1), json("5.6.7.8", "b", 1)}));
    EXPECT_EQ(passthrough_lines(), Lines{comment});
}

TEST_F(LoaderTest, RealWorldFile) {
    write_bytes(hosts, read_bytes(QH_FIXTURES "/windows-style.hosts"));
    ASSERT_EQ(hosts_load(), 1);
    EXPECT_EQ(records_json(), (Lines{
                                  json("102.54.94.97", "rhino.acme.com", 0, "source server"),
                                  json("38.25.63.10", "x.acme.com", 0, "x client host"),
                                  json("127.0.0.1", "localhost", 0),
                                  json("::1", "localhost", 0),
                                  json("127.0.0.1", "localhost", 1),
                                  json("::1", "localhost", 1),
                                  json("192.168.1.20", "nas", 1, "storage"),
                                  json("192.168.1.20", "nas.lan", 1, "storage"),
                                  json("192.168.1.20", "backup", 1, "storage"),
                                  json("fe80::1", "router6", 1),
                                  json("10.0.0.5", "old-build", 0),
                              }));
    EXPECT_EQ(passthrough_lines(), (Lines{
                                       "# Hosts file of the build lab.",
                                       "#",
                                       "# Entries map an address to one or more names.",
                                       "#",
                                       "# For example:",
                                       "#",
                                       "# localhost name resolution is handled within DNS itself.",
                                       "# --- local network ---",
                                       "10.0.0.7 printer lab/printer",
                                   }));
}

TEST_F(LoaderTest, MissingFileLoadsEmpty) {
    load_text("1.2.3.4 a\n");
    ASSERT_EQ(hosts_set_path(dir.file("absent").c_str()), 1);
    EXPECT_EQ(hosts_load(), 1);
    EXPECT_EQ(hosts_count(), 0);
    EXPECT_EQ(s_pass_count, 0);
    EXPECT_STREQ(hosts_last_error(), "");
}

TEST_F(LoaderTest, UnreadablePathFailsWithEmptyTables) {
    load_text("1.2.3.4 a\n");
    // A folder opens on some systems and then fails to read; either way the
    // load must fail rather than report a partial or empty file as success.
    ASSERT_EQ(hosts_set_path(dir.path().string().c_str()), 1);
    EXPECT_EQ(hosts_load(), -1);
    EXPECT_EQ(hosts_count(), 0);
    EXPECT_EQ(s_pass_count, 0);
    std::string message = hosts_last_error();
    EXPECT_TRUE(message.rfind("cannot open " + dir.path().string() + ": ", 0) == 0 ||
                message.rfind("cannot read " + dir.path().string() + ": ", 0) == 0)
        << message;
}

TEST_F(LoaderTest, RandomBytesNeverBreakTheLoader) {
    std::mt19937 random(12345);
    int records_seen = 0;
    for (int round = 0; round < 20; ++round) {
        std::string bytes(20000 + round * 3000, '\0');
        for (char &b : bytes) {
            unsigned v = random() % 64;
            // Mostly arbitrary bytes, with enough separators and digits to
            // reach every branch of the line classes.
            // NUL bytes are refused as a whole (see NulBytesAreRefused).
            b = v < 40 ? static_cast<char>(random() % 255 + 1) : "\n\n #.:1a \t\r"[v % 11];
        }
        load_text(bytes);
        // Every record is one the editing calls would accept, every
        // passthrough line is trimmed, and a save reads back the same.
        for (int i = 0; i < hosts_count(); ++i) {
            const host_record &rec = s_recs[i];
            ASSERT_EQ(valid_ip(rec.ip), 1) << "record " << i << ": " << hosts_get(i);
            ASSERT_EQ(valid_name(rec.name), 1) << "record " << i << ": " << hosts_get(i);
            ASSERT_TRUE(rec.enabled == 0 || rec.enabled == 1) << i;
            ASSERT_EQ(std::strchr(rec.comment, '\n'), nullptr) << "record " << i;
        }
        const Lines lines = passthrough_lines();
        for (const std::string &line : lines) {
            ASSERT_FALSE(line.empty());
            ASSERT_EQ(std::string(" \t").find(line.front()), std::string::npos) << line;
            ASSERT_EQ(std::string(" \t\r\n").find(line.back()), std::string::npos) << line;
        }
        const Lines records = records_json();
        records_seen += hosts_count();
        ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
        ASSERT_EQ(hosts_load(), 1) << hosts_last_error();
        ASSERT_EQ(records_json(), records) << "round " << round;
        ASSERT_EQ(passthrough_lines(), lines) << "round " << round;
    }
    EXPECT_GT(records_seen, 0) << "no round held a record: the record checks tested nothing";
}

// A NUL byte means UTF-16 text or a binary file: reading it line by line
// would lose text on the next save, so the whole load is refused, and so is
// a save after it.
TEST_F(LoaderTest, NulBytesAreRefused) {
    const struct {
        const char *what;
        std::string bytes;
    } cases[] = {
        {"Notepad's Unicode (UTF-16 with byte-order mark)",
         read_bytes(QH_FIXTURES "/notepad-utf16.hosts")},
        {"UTF-16 appended to an ANSI file", read_bytes(QH_FIXTURES "/powershell-appended.hosts")},
        {"one NUL inside a line", read_bytes(QH_FIXTURES "/nul-in-line.hosts")},
        {"NUL after the first read chunk", std::string(200000, '#') + "\n1.2.3.4 a\n\0"s},
        {"NUL as the last byte", "1.2.3.4 a\n\0"s},
    };
    const std::string error =
        "cannot read " + hosts + ": it holds NUL bytes (UTF-16 or not a text file)";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        load_text("1.1.1.1 before # loaded earlier\n# line\n");
        write_bytes(hosts, c.bytes);
        EXPECT_EQ(hosts_load(), -1);
        EXPECT_EQ(hosts_last_error(), error);
        EXPECT_EQ(hosts_count(), 0);
        EXPECT_EQ(s_pass_count, 0);
        // Nor can a save that follows replace the file.
        ASSERT_EQ(hosts_add("10.0.0.1", "added", nullptr), 0);
        EXPECT_EQ(hosts_save(), -1);
        EXPECT_EQ(hosts_last_error(), "not replacing " + hosts + ": its last load failed");
        EXPECT_EQ(read_bytes(hosts), c.bytes);
    }
}

// Every line of a large file becomes its record and lists as such; the load
// time is printed for information, not judged.
TEST_F(LoaderTest, LargeFileGivesOneRecordPerLine) {
    const int entries = 150000;
    auto ip = [](int i) {
        return "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
               std::to_string(i % 256);
    };
    auto name = [](int i) { return "host" + std::to_string(i) + ".example"; };
    std::string text;
    for (int i = 0; i < entries; ++i)
        text += ip(i) + " " + name(i) + " # n\n";
    write_bytes(hosts, text);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(hosts_load(), 1);
    auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int wrong = 0;
    int first_wrong = -1;
    for (int i = 0; i < hosts_count(); ++i) {
        if (hosts_get(i) != json(ip(i), name(i), 1, "n") && wrong++ == 0)
            first_wrong = i;
    }
    EXPECT_EQ(hosts_count(), entries);
    EXPECT_EQ(wrong, 0) << "first wrong record: " << first_wrong;
    RecordProperty("load_seconds", std::to_string(elapsed));
    std::printf("150000 entries loaded in %.3f s\n", elapsed);
}
