// Behaviour of the POSIX platform layer.
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "hosts_internal.h"
#include "platform.h"
#include "support/test_support.h"
#include "unix/platform_unix.h"

using UnixTest = HostsTest;

TEST_F(UnixTest, DefaultPathIsEtcHosts) { EXPECT_STREQ(native_platform.default_path, "/etc/hosts"); }

TEST_F(UnixTest, SaveKeepsThePermissionBits) {
    write_bytes(hosts, "1.2.3.4 a\n");
    ASSERT_EQ(chmod(hosts.c_str(), 0640), 0);
    ASSERT_EQ(hosts_load(), 1);
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    struct stat after;
    ASSERT_EQ(stat(hosts.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
}

TEST_F(UnixTest, TemporarySymlinkIsNotFollowed) {
    const std::string victim = dir.file("victim");
    write_bytes(victim, "precious\n");
    ASSERT_EQ(symlink(victim.c_str(), (hosts + ".tmp").c_str()), 0);
    ASSERT_EQ(hosts_add("1.2.3.4", "a", nullptr), 0);
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    EXPECT_EQ(read_bytes(victim), "precious\n");
    EXPECT_EQ(read_bytes(hosts), "1.2.3.4 a\n");
    EXPECT_FALSE(fs::is_symlink(hosts + ".tmp"));
}

TEST_F(UnixTest, InPlaceOverwriteCopiesTheWholeFile) {
    const std::string tmp = hosts + ".tmp";
    std::string big(300000, 'x');
    write_bytes(hosts, "old content that is longer than nothing\n");
    ASSERT_EQ(chmod(hosts.c_str(), 0604), 0);
    write_bytes(tmp, big);
    sys_error err{};
    ASSERT_EQ(overwrite_in_place(tmp.c_str(), hosts.c_str(), &err), 0) << err.text;
    EXPECT_EQ(read_bytes(hosts), big);
    struct stat after;
    ASSERT_EQ(stat(hosts.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0604u);

    EXPECT_EQ(overwrite_in_place(dir.file("absent").c_str(), hosts.c_str(), &err), -1);
    EXPECT_STREQ(err.text, "No such file or directory");
    EXPECT_EQ(read_bytes(hosts), big);
}

// A container's hosts file is a bind mount that cannot be renamed over; the
// save must then write the file in place. Needs a private mount namespace,
// which only a privileged test run can make.
TEST_F(UnixTest, BindMountedFileIsOverwrittenInPlace) {
    const std::string mounted = dir.file("mounted-source");
    write_bytes(mounted, "1.1.1.1 old\n");
    write_bytes(hosts, "");
    ASSERT_EQ(hosts_add("2.2.2.2", "new", "in place"), 0);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(mounted.c_str(), hosts.c_str(), nullptr, MS_BIND, nullptr) != 0)
            _exit(77);
        _exit(hosts_save() == 1 && !fs::exists(hosts + ".tmp") ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no permission to make a private mount namespace";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_bytes(mounted), "2.2.2.2 new # in place\n");
}
