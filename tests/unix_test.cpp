// Behaviour of the POSIX platform layer.
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "hosts_internal.h"
#include "platform.h"
#include "support/test_support.h"
#include "unix/platform_unix.h"

using UnixTest = HostsTest;

namespace {

void add_many_records(int count) {
    for (int i = 0; i < count; ++i)
        ASSERT_GE(hosts_add("10.9.8.7", ("host-" + std::to_string(i) + ".example").c_str(), "filler"), 0);
}

// Runs `body` in a child process with a private mount namespace; returns
// its exit status, or 77 when such a namespace cannot be made here.
template <class Body>
int in_private_mount_namespace(Body body) {
    pid_t child = fork();
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            _exit(77);
        _exit(body());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

}  // namespace

// Without a chosen path the library loads and saves /etc/hosts. The real one
// is never touched: a private mount namespace gets a scratch /etc of its own.
TEST_F(UnixTest, WithoutAPathLoadAndSaveWorkOnEtcHosts) {
    ASSERT_EQ(hosts_set_path(nullptr), 1);
    int status = in_private_mount_namespace([] {
        if (mount("qh-etc", "/etc", "tmpfs", 0, "size=64k") != 0)
            return 77;
        std::FILE *file = std::fopen("/etc/hosts", "wb");
        if (file == nullptr || std::fputs("10.1.2.3 stand-in.example\n", file) < 0 ||
            std::fclose(file) != 0)
            return 2;
        if (hosts_load() != 1 || hosts_count() != 1 ||
            json("10.1.2.3", "stand-in.example", 1) != hosts_get(0))
            return 3;
        if (hosts_add("10.4.5.6", "added.example", nullptr) < 0 || hosts_save() != 1)
            return 4;
        return read_bytes("/etc/hosts") == "10.1.2.3 stand-in.example\n10.4.5.6 added.example\n"
                   ? 0
                   : 5;
    });
    if (status == 77)
        GTEST_SKIP() << "no permission to mount a scratch /etc in a private mount namespace";
    EXPECT_EQ(status, 0) << "2: setup, 3: load, 4: save, 5: saved content";
}

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

    int status = in_private_mount_namespace([&] {
        if (mount(mounted.c_str(), hosts.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return 77;
        return hosts_save() == 1 && !fs::exists(hosts + ".tmp") ? 0 : 1;
    });
    if (status == 77)
        GTEST_SKIP() << "no permission to make a private mount namespace and bind-mount a file";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_bytes(mounted), "2.2.2.2 new # in place\n");
}

// A write refused part-way through the temporary file: the file-size limit
// lets the first blocks through and fails the rest with EFBIG.
TEST_F(UnixTest, WriteFailingPartWayLeavesTheOldFile) {
    const std::string old_content = "1.1.1.1 old # keep me\n# header\n";
    write_bytes(hosts, old_content);
    add_many_records(20000);

    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limited = saved;
    limited.rlim_cur = 100000;
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    int rc = hosts_save();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_EQ(rc, -1);
    EXPECT_EQ(std::string(hosts_last_error()), "failed writing " + hosts + ".tmp: File too large");
    EXPECT_EQ(read_bytes(hosts), old_content);
    EXPECT_FALSE(fs::exists(hosts + ".tmp"));
    EXPECT_EQ(hosts_count(), 20000);
}

// A full disk, made from a small file system mounted over the test folder.
TEST_F(UnixTest, FullDiskLeavesTheOldFile) {
    const std::string old_content = "1.1.1.1 old # keep me\n";
    add_many_records(20000);
    const std::string expected_error = "failed writing " + hosts + ".tmp: No space left on device";
    int status = in_private_mount_namespace([&] {
        if (mount("qh-full", dir.path().c_str(), "tmpfs", 0, "size=64k") != 0)
            return 77;
        std::FILE *file = std::fopen(hosts.c_str(), "wb");
        if (file == nullptr || std::fputs(old_content.c_str(), file) < 0 || std::fclose(file) != 0)
            return 2;
        if (hosts_save() != -1 || expected_error != hosts_last_error()) {
            std::fprintf(stderr, "save gave: %s\n", hosts_last_error());
            return 3;
        }
        if (fs::exists(hosts + ".tmp"))
            return 4;
        char back[64] = {};
        file = std::fopen(hosts.c_str(), "rb");
        std::size_t got = file != nullptr ? std::fread(back, 1, sizeof back - 1, file) : 0;
        return got == old_content.size() && old_content == back ? 0 : 5;
    });
    if (status == 77)
        GTEST_SKIP() << "no permission to mount a small file system in a private mount namespace";
    EXPECT_EQ(status, 0) << "2: setup, 3: save result, 4: temporary file left, 5: old file changed";
}
