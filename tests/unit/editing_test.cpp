#include <string>

#include "hosts_internal.h"
#include "support/test_support.h"

using EditingTest = HostsTest;

TEST_F(EditingTest, AddRefusesBadArgumentsInOrder) {
    const std::string too_long(1024, 'c');
    const struct {
        const char *ip;
        const char *name;
        const char *comment;
        const char *error;
    } cases[] = {
        {nullptr, "bad name", nullptr, "ip is NULL or empty"},
        {"", "bad name", nullptr, "ip is NULL or empty"},
        {"999.1.1.1", nullptr, nullptr, "invalid ip: '999.1.1.1'"},
        {"1.2.3.4", nullptr, nullptr, "name is NULL or empty"},
        {"1.2.3.4", "", nullptr, "name is NULL or empty"},
        {"1.2.3.4", "a b", too_long.c_str(), "invalid name: 'a b'"},
        {"1.2.3.4", "a", too_long.c_str(), "comment too long"},
        {"1.2.3.4", "a", "x\n0.0.0.0 bank.example", "comment contains a line break"},
        {"1.2.3.4", "a", "x\r0.0.0.0 bank.example", "comment contains a line break"},
    };
    ASSERT_EQ(add_record("9.9.9.9", "kept", 1, "", 0), 1);
    for (const auto &c : cases) {
        EXPECT_EQ(hosts_add(c.ip, c.name, c.comment), -1) << c.error;
        EXPECT_STREQ(hosts_last_error(), c.error);
    }
    EXPECT_EQ(records_json(), std::vector<std::string>{json("9.9.9.9", "kept", 1)});
}

TEST_F(EditingTest, AddAppendsAndReturnsTheIndex) {
    std::string longest(1023, 'c');
    EXPECT_EQ(hosts_add("127.0.0.1", "a", nullptr), 0);
    EXPECT_EQ(hosts_add("127.0.0.1", "a", ""), 1);
    EXPECT_EQ(hosts_add("::1", "b", "  spaced  "), 2);
    EXPECT_EQ(hosts_add("::1", "b", longest.c_str()), 3);
    EXPECT_STREQ(hosts_last_error(), "");
    EXPECT_EQ(records_json(),
              (std::vector<std::string>{json("127.0.0.1", "a", 1), json("127.0.0.1", "a", 1),
                                        json("::1", "b", 1, "  spaced  "),
                                        json("::1", "b", 1, longest)}));
    EXPECT_EQ(s_recs[0].has_comment, 0);
    EXPECT_EQ(s_recs[1].has_comment, 0);
}

TEST_F(EditingTest, SetEnabledStoresZeroOrOne) {
    ASSERT_EQ(hosts_add("1.2.3.4", "a", "note"), 0);
    EXPECT_EQ(hosts_set_enabled(0, 0), 1);
    EXPECT_EQ(std::string(hosts_get(0)), json("1.2.3.4", "a", 0, "note"));
    EXPECT_EQ(hosts_set_enabled(0, 5), 1);
    EXPECT_EQ(s_recs[0].enabled, 1);
    EXPECT_EQ(std::string(hosts_get(0)), json("1.2.3.4", "a", 1, "note"));
}

TEST_F(EditingTest, RemoveClosesTheGap) {
    load_text("1.1.1.1 a\n# kept line\n2.2.2.2 b\n3.3.3.3 c\n");
    EXPECT_EQ(hosts_remove(0), 1);
    EXPECT_EQ(records_json(),
              (std::vector<std::string>{json("2.2.2.2", "b", 1), json("3.3.3.3", "c", 1)}));
    EXPECT_EQ(hosts_remove(1), 1);
    EXPECT_EQ(records_json(), std::vector<std::string>{json("2.2.2.2", "b", 1)});
    EXPECT_EQ(hosts_remove(0), 1);
    EXPECT_EQ(hosts_count(), 0);
    EXPECT_EQ(passthrough_lines(), std::vector<std::string>{"# kept line"});
    EXPECT_EQ(hosts_add("4.4.4.4", "d", nullptr), 0);
    EXPECT_EQ(records_json(), std::vector<std::string>{json("4.4.4.4", "d", 1)});
}

TEST_F(EditingTest, IndexOutOfRange) {
    ASSERT_EQ(hosts_add("1.2.3.4", "a", nullptr), 0);
    for (int bad : {-1, 1}) {
        std::string expected = "index " + std::to_string(bad) + " out of range (count 1)";
        EXPECT_EQ(hosts_set_enabled(bad, 0), -1);
        EXPECT_EQ(hosts_last_error(), expected);
        EXPECT_EQ(hosts_remove(bad), -1);
        EXPECT_EQ(hosts_last_error(), expected);
    }
    EXPECT_EQ(records_json(), std::vector<std::string>{json("1.2.3.4", "a", 1)});
}
