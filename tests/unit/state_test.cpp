#include <cstring>
#include <string>

#include "hooks.h"
#include "hosts_internal.h"
#include "support/test_support.h"

using StateTest = HostsTest;

TEST_F(StateTest, NullOrEmptyPathSelectsTheDefault) {
    for (const char *choice : {static_cast<const char *>(nullptr), ""}) {
        ASSERT_EQ(hosts_set_path(hosts.c_str()), 1);
        EXPECT_EQ(hosts_set_path(choice), 1);
        EXPECT_STREQ(path_in_use(), native_system.default_path());
        EXPECT_STREQ(hosts_last_error(), "");
    }
}

// Without a chosen path, load and save work on the system's hosts file: here
// a stand-in platform names a scratch file as that file.
TEST_F(StateTest, WithoutAChosenPathLoadAndSaveUseTheSystemFile) {
    static std::string system_file;
    system_file = dir.file("system-hosts");
    write_bytes(system_file, "10.1.2.3 stand-in.example\n");
    write_bytes(hosts, "10.9.9.9 chosen.example\n");
    qh_system stand_in = native_system;
    stand_in.default_path = [] { return system_file.c_str(); };
    s_hooks.system = &stand_in;

    ASSERT_EQ(hosts_set_path(nullptr), 1);
    ASSERT_EQ(hosts_load(), 1) << hosts_last_error();
    ASSERT_EQ(hosts_count(), 1);
    EXPECT_EQ(hosts_get(0), json("10.1.2.3", "stand-in.example", 1));
    ASSERT_GE(hosts_add("10.4.5.6", "added.example", nullptr), 0);
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    EXPECT_EQ(read_bytes(system_file), "10.1.2.3 stand-in.example\n10.4.5.6 added.example\n");
    EXPECT_EQ(read_bytes(hosts), "10.9.9.9 chosen.example\n") << "the earlier choice is not used";
}

TEST_F(StateTest, PathLimitIs8191Characters) {
    std::string longest(8191, 'p');
    EXPECT_EQ(hosts_set_path(longest.c_str()), 1);
    EXPECT_EQ(path_in_use(), longest);

    std::string too_long(8192, 'q');
    EXPECT_EQ(hosts_set_path(too_long.c_str()), -1);
    EXPECT_STREQ(hosts_last_error(), "path too long");
    EXPECT_EQ(path_in_use(), longest) << "the earlier choice must stay in effect";
}

TEST_F(StateTest, SuccessClearsTheErrorButStatusCallsDoNot) {
    std::string too_long(9000, 'x');
    ASSERT_EQ(hosts_set_path(too_long.c_str()), -1);
    hosts_count();
    hosts_version();
    hosts_last_error();
    EXPECT_STREQ(hosts_last_error(), "path too long");

    EXPECT_EQ(hosts_set_path(hosts.c_str()), 1);
    EXPECT_STREQ(hosts_last_error(), "");

    ASSERT_EQ(hosts_remove(0), -1);
    EXPECT_EQ(hosts_load(), 1);
    EXPECT_STREQ(hosts_last_error(), "");
}

TEST_F(StateTest, VersionIsOneConstantText) {
    const char *first = hosts_version();
    EXPECT_STREQ(first, "1.0.0");
    EXPECT_EQ(hosts_version(), first);
}

TEST_F(StateTest, ErrorTextIsCutAt511Characters) {
    std::string long_word(600, 'w');
    set_err("%s!", long_word.c_str());
    EXPECT_EQ(std::strlen(hosts_last_error()), 511u);
    EXPECT_EQ(std::string(hosts_last_error()), long_word.substr(0, 511));
}
