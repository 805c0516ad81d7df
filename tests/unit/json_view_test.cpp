#include <string>
#include <vector>

#include "hosts_internal.h"
#include "support/test_support.h"

using JsonTest = HostsTest;

TEST_F(JsonTest, RecordShapes) {
    ASSERT_EQ(add_record("127.0.0.1", "localhost", 1, "", 0), 1);
    ASSERT_EQ(add_record("::1", "six", 0, "", 0), 1);
    ASSERT_EQ(add_record("10.0.0.1", "c", 1, "a note", 1), 1);
    EXPECT_STREQ(hosts_get(0),
                 "{\"ip\":\"127.0.0.1\",\"name\":\"localhost\",\"enabled\":1,\"comment\":\"\"}");
    EXPECT_STREQ(hosts_get(1), "{\"ip\":\"::1\",\"name\":\"six\",\"enabled\":0,\"comment\":\"\"}");
    EXPECT_STREQ(hosts_get(2),
                 "{\"ip\":\"10.0.0.1\",\"name\":\"c\",\"enabled\":1,\"comment\":\"a note\"}");
    EXPECT_STREQ(hosts_last_error(), "");
}

TEST_F(JsonTest, Escapes) {
    const struct {
        std::string raw;
        std::string shown;
    } cases[] = {
        {"say \"hi\"", "say \\\"hi\\\""},
        {"a\\b", "a\\\\b"},
        {"t\tn\nr\r", "t\\tn\\nr\\r"},
        {"\x01\x08\x0c\x1f", "\\u0001\\u0008\\u000c\\u001f"},
        {"/ \x7f \xc3\xa9", "/ \x7f \xc3\xa9"},
    };
    for (const auto &c : cases) {
        char out[64];
        json_escape(c.raw.c_str(), out, sizeof out);
        EXPECT_EQ(std::string(out), c.shown) << c.raw;
    }
}

TEST_F(JsonTest, EscapeStopsBeforeTheBoundWithoutSplittingAnEscape) {
    char out[16];
    json_escape("\x01\x01\x01\x01", out, sizeof out);
    EXPECT_STREQ(out, "\\u0001\\u0001");
    json_escape("abcdefghijkl", out, sizeof out);
    EXPECT_STREQ(out, "abcdefgh");
}

TEST_F(JsonTest, FullCommentsAreNeverCut) {
    for (char fill : {'"', '\x01', 'z'}) {
        std::string comment(1023, fill);
        reset_lists();
        ASSERT_EQ(add_record("1.2.3.4", "h", 1, comment.c_str(), 1), 1);
        char escaped[1023 * 6 + 8];
        json_escape(comment.c_str(), escaped, sizeof escaped);
        std::string shown = hosts_get(0);
        EXPECT_EQ(shown, json("1.2.3.4", "h", 1, escaped));
        std::size_t per_byte = fill == '"' ? 2 : fill == 'z' ? 1 : 6;
        EXPECT_EQ(std::string(escaped).size(), 1023 * per_byte);
    }
}

TEST_F(JsonTest, EscapesWhereverTheyFallInAField) {
    // Fields are read eight bytes at a time: put each kind of byte at every
    // place of the first words, and at the very end of a full field.
    const std::string specials[] = {"\"", "\\", "\x01", "\t", "\x1f", "\x7f", "\xc3\xa9", " "};
    std::vector<std::string> comments;
    for (const std::string &special : specials) {
        for (std::size_t at = 0; at < 20; ++at)
            comments.push_back(std::string(at, 'a') + special + "b" + special + "cdefghij");
        comments.push_back(std::string(1023 - special.size(), 'z') + special);
    }
    for (const std::string &comment : comments) {
        reset_lists();
        ASSERT_EQ(add_record("1.2.3.4", comment.substr(0, 255).c_str(), 1, comment.c_str(), 1), 1);
        std::vector<char> name(255 * 6 + 8);
        std::vector<char> text(1023 * 6 + 8);
        json_escape(comment.substr(0, 255).c_str(), name.data(), name.size());
        json_escape(comment.c_str(), text.data(), text.size());
        EXPECT_EQ(hosts_get(0), json("1.2.3.4", name.data(), 1, text.data())) << comment;
    }
}

TEST_F(JsonTest, BadIndexKeepsThePreviousText) {
    ASSERT_EQ(add_record("1.2.3.4", "a", 1, "", 0), 1);
    ASSERT_EQ(add_record("1.2.3.4", "b", 1, "", 0), 1);
    const char *first = hosts_get(0);
    std::string a = first;
    EXPECT_EQ(hosts_get(1), first) << "one buffer for every record";
    EXPECT_EQ(std::string(first), json("1.2.3.4", "b", 1));
    for (int bad : {-1, 2}) {
        EXPECT_STREQ(hosts_get(bad), "");
        EXPECT_EQ(std::string(hosts_last_error()),
                  "index " + std::to_string(bad) + " out of range (count 2)");
        EXPECT_EQ(std::string(first), json("1.2.3.4", "b", 1));
    }
    reset_lists();
    EXPECT_STREQ(hosts_get(0), "");
    EXPECT_STREQ(hosts_last_error(), "index 0 out of range (count 0)");
}
