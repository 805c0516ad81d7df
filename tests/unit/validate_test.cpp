#include <string>

#include "hosts_internal.h"
#include "support/test_support.h"

TEST(ValidIp, AcceptsAndRefuses) {
    const char *good[] = {"127.0.0.1", "0.0.0.0", "255.255.255.255", "1.2.3.04", "010.001.000.001",
                          "::1",       "::",      "fe80::1",         "1::",      "1:2:3",
                          "abcde::1",  "ABCD::ef"};
    const char *bad[] = {"",          "256.1.1.1", "1.2.3",   "1.2.3.4.5",
                         "1.2.3.4.",  ".1.2.3",    "1..2.3",  "1.2.3.0004",
                         "1.2.3.-4",  " 1.2.3.4",  "1:2",     ":1:2",
                         "1:2:",      ":::",       "1::2::3", "::ffff:1.2.3.4",
                         "fe80::1%1", "g::1",      "1.2.3.4 "};
    for (const char *s : good)
        EXPECT_EQ(valid_ip(s), 1) << s;
    for (const char *s : bad)
        EXPECT_EQ(valid_ip(s), 0) << s;
    EXPECT_EQ(valid_ip(nullptr), 0);
}

TEST(ValidIp, Ipv6LengthLimitIs45) {
    std::string longest = "1::" + std::string(42, 'a');
    ASSERT_EQ(longest.size(), 45u);
    EXPECT_EQ(valid_ip(longest.c_str()), 1);
    EXPECT_EQ(valid_ip((longest + "b").c_str()), 0);
}

TEST(ValidName, AcceptsAndRefuses) {
    const char *good[] = {"localhost", "my-host.lan", "a_b", "-x-", "a..b", "A9"};
    const char *bad[] = {"", "a b", "a/b", "*", "caf\xc3\xa9", "a\tb", "a#b", "x\x7f"};
    for (const char *s : good)
        EXPECT_EQ(valid_name(s), 1) << s;
    for (const char *s : bad)
        EXPECT_EQ(valid_name(s), 0) << s;
    EXPECT_EQ(valid_name(nullptr), 0);
}

TEST(ValidName, LengthLimitIs253) {
    EXPECT_EQ(valid_name(std::string(253, 'a').c_str()), 1);
    EXPECT_EQ(valid_name(std::string(254, 'a').c_str()), 0);
}
