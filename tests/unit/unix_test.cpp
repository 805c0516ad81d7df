// Behaviour of the POSIX platform layer.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>

#include "hooks.h"
#include "hosts_internal.h"
#include "last_load.h"
#include "support/test_support.h"
#include "unix/internal.h"

using UnixTest = HostsTest;

namespace {

void add_many_records(int count) {
    for (int i = 0; i < count; ++i)
        ASSERT_GE(
            hosts_add("10.9.8.7", ("host-" + std::to_string(i) + ".example").c_str(), "filler"), 0);
}

// Runs `body` in a child process with a private mount namespace; returns
// its exit status, or 77 when such a namespace cannot be made here.
template <class Body>
int in_private_mount_namespace(Body body) {
    pid_t child = fork();
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            _exit(77);
        _exit(body());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

}  // namespace

TEST_F(UnixTest, SaveKeepsThePermissionBits) {
    write_bytes(hosts, "1.2.3.4 a\n");
    ASSERT_EQ(chmod(hosts.c_str(), 0640), 0);
    ASSERT_EQ(hosts_load(), 1);
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    struct stat after;
    ASSERT_EQ(stat(hosts.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
}

// A FIFO, a device or a folder is neither replaced (saved to before any
// load) nor read; a FIFO without a writer must not make the load wait.
TEST_F(UnixTest, SpecialFilesAreNeitherReadNorReplaced) {
    const struct {
        const char *what;
        int (*make)(const char *path);
        mode_t type;
    } cases[] = {
        {"FIFO", [](const char *path) { return mkfifo(path, 0644); }, S_IFIFO},
        {"folder", [](const char *path) { return mkdir(path, 0755); }, S_IFDIR},
        {"device like /dev/urandom",
         [](const char *path) { return mknod(path, S_IFCHR | 0644, makedev(1, 9)); }, S_IFCHR},
    };
    const std::string link = dir.file("link");
    ASSERT_EQ(symlink("hosts", link.c_str()), 0);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(hosts);
        if (c.make(hosts.c_str()) != 0) {
            std::printf("cannot make a %s here (%s); case left out\n", c.what,
                        std::strerror(errno));
            continue;
        }
        for (const std::string &path : {hosts, link}) {
            ASSERT_EQ(hosts_set_path(path.c_str()), 1);
            forget_load();
            ASSERT_GE(hosts_add("1.2.3.4", "new", nullptr), 0);
            EXPECT_EQ(hosts_save(), -1);
            EXPECT_EQ(hosts_last_error(), "not replacing " + hosts + ": not a regular file");

            auto load = std::async(std::launch::async, hosts_load);
            if (load.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
                // Let a load that waits for a writer go, then fail.
                close(open(hosts.c_str(), O_WRONLY | O_NONBLOCK));
                FAIL() << "the load waited for a writer";
            }
            EXPECT_EQ(load.get(), -1);
            EXPECT_EQ(hosts_last_error(), "cannot open " + path + ": not a regular file");
            EXPECT_EQ(hosts_count(), 0);
            ASSERT_EQ(hosts_add("1.2.3.4", "new", nullptr), 0);
            EXPECT_EQ(hosts_save(), -1);
            EXPECT_EQ(hosts_last_error(), "not replacing " + path + ": its last load failed");
            struct stat after;
            ASSERT_EQ(lstat(hosts.c_str(), &after), 0);
            EXPECT_EQ(after.st_mode & S_IFMT, c.type);
            EXPECT_FALSE(fs::exists(hosts + ".tmp"));
            EXPECT_TRUE(fs::is_symlink(link));
        }
    }
}

// The save replaces the file at the end of the links and leaves every link
// as it was; the temporary file goes beside that file.
TEST_F(UnixTest, SymlinkedFileKeepsItsLink) {
    const std::string real = dir.file("real");
    ASSERT_TRUE(fs::create_directory(real));
    const std::string target = real + "/hosts";
    const std::string middle = dir.file("middle");
    const struct {
        const char *what;
        std::string link_text;
        bool chain;
    } cases[] = {
        {"relative link", "real/hosts", false},
        {"absolute link", target, false},
        {"link to a link", "middle", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(hosts);
        fs::remove(middle);
        ASSERT_EQ(symlink(c.link_text.c_str(), hosts.c_str()), 0);
        if (c.chain) {
            ASSERT_EQ(symlink("real/../real/hosts", middle.c_str()), 0);
        }
        write_bytes(target, "1.1.1.1 old\n");
        ASSERT_EQ(hosts_load(), 1) << hosts_last_error();
        ASSERT_EQ(hosts_add("2.2.2.2", "new", nullptr), 1);
        ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
        EXPECT_EQ(fs::read_symlink(hosts).string(), c.link_text);
        EXPECT_EQ(read_bytes(target), "1.1.1.1 old\n2.2.2.2 new\n");
        EXPECT_FALSE(fs::exists(target + ".tmp"));
        EXPECT_FALSE(fs::exists(hosts + ".tmp"));
    }

    // The error texts name the file the save works on.
    qh_file_methods injected = native_file_methods;
    injected.replace = [](qh_file *, const char *, const char *, sys_error *err) {
        std::snprintf(err->text, sizeof err->text, "injected");
        return FILE_FAILED;
    };
    s_hooks.files = &injected;
    EXPECT_EQ(hosts_save(), -1);
    restore_native_hooks();
    const std::string resolved = dir.file("real/../real/hosts");
    EXPECT_EQ(hosts_last_error(),
              "rename " + resolved + ".tmp -> " + resolved + " failed: injected");
    EXPECT_EQ(fs::read_symlink(hosts).string(), "middle");

    // A dangling link gets its file; a loop of links is refused.
    fs::remove(target);
    ASSERT_EQ(hosts_load(), 1) << hosts_last_error();
    ASSERT_EQ(hosts_add("3.3.3.3", "created", nullptr), 0);
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    EXPECT_EQ(read_bytes(target), "3.3.3.3 created\n");
    fs::remove(middle);
    ASSERT_EQ(symlink("hosts", middle.c_str()), 0);
    EXPECT_EQ(hosts_save(), -1);
    EXPECT_EQ(std::string(hosts_last_error()).rfind("not replacing ", 0), 0u) << hosts_last_error();
    EXPECT_NE(std::string(hosts_last_error()).find(": Too many levels of symbolic links"),
              std::string::npos);
    EXPECT_EQ(fs::read_symlink(hosts).string(), "middle");
}

// Owner, mode bits with set-user-ID and set-group-ID, and extended
// attributes (a user attribute, an SELinux label, an ACL) survive a save.
TEST_F(UnixTest, SaveKeepsOwnerModeAndExtendedAttributes) {
    if (geteuid() != 0)
        GTEST_SKIP() << "giving a file to another owner needs root";
    const char label[] = "system_u:object_r:net_conf_t:s0";
    for (mode_t mode : {04755, 02750, 06711, 0640}) {
        SCOPED_TRACE(mode);
        write_bytes(hosts, "1.2.3.4 a\n");
        ASSERT_EQ(chown(hosts.c_str(), 1234, 4321), 0);
        ASSERT_EQ(chmod(hosts.c_str(), mode), 0);
        ASSERT_EQ(setxattr(hosts.c_str(), "user.qh-note", "kept", 4, 0), 0);
        bool labelled = setxattr(hosts.c_str(), "security.selinux", label, sizeof label, 0) == 0;
        ASSERT_EQ(hosts_load(), 1);
        ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
        struct stat after;
        ASSERT_EQ(stat(hosts.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & 07777, mode);
        EXPECT_EQ(after.st_uid, 1234u);
        EXPECT_EQ(after.st_gid, 4321u);
        char value[64] = {};
        EXPECT_EQ(getxattr(hosts.c_str(), "user.qh-note", value, sizeof value), 4);
        EXPECT_STREQ(value, "kept");
        if (labelled) {
            EXPECT_EQ(getxattr(hosts.c_str(), "security.selinux", value, sizeof value),
                      static_cast<ssize_t>(sizeof label));
            EXPECT_STREQ(value, label);
        }
    }

    // A POSIX ACL (as setfacl -m u:1234:r makes it): the mode is 0640, user
    // 1234 may read too.
    const std::uint32_t any = 0xffffffff;
    const struct {
        std::uint16_t tag, perm;
        std::uint32_t id;
    } entries[] = {{0x01, 6, any}, {0x02, 4, 1234}, {0x04, 4, any}, {0x10, 4, any}, {0x20, 0, any}};
    std::string acl(4, '\0');
    acl[0] = 2;  // version, little-endian like every field
    for (const auto &entry : entries) {
        char raw[8];
        std::memcpy(raw, &entry.tag, 2);
        std::memcpy(raw + 2, &entry.perm, 2);
        std::memcpy(raw + 4, &entry.id, 4);
        acl.append(raw, sizeof raw);
    }
    write_bytes(hosts, "1.2.3.4 a\n");
    if (setxattr(hosts.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
        GTEST_SKIP() << "no POSIX ACLs on this file system: " << std::strerror(errno);
    ASSERT_EQ(hosts_load(), 1);
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    char back[256];
    ssize_t size = getxattr(hosts.c_str(), "system.posix_acl_access", back, sizeof back);
    ASSERT_GT(size, 0) << std::strerror(errno);
    EXPECT_EQ(std::string(back, static_cast<std::size_t>(size)), acl);
    struct stat after;
    ASSERT_EQ(stat(hosts.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
}

namespace {

int refuse_xattr(int, const char *, const void *, std::size_t) {
    errno = EPERM;
    return -1;
}

}  // namespace

// Another attribute that cannot be set is left out; a label that cannot be
// set fails the save before anything changes.
TEST_F(UnixTest, LabelThatCannotBeCopiedFailsTheSave) {
    const char label[] = "system_u:object_r:net_conf_t:s0";
    write_bytes(hosts, "1.2.3.4 a\n");
    ASSERT_EQ(setxattr(hosts.c_str(), "user.qh-note", "kept", 4, 0), 0);
    const os_calls refusing = {
        .reserve = native_os_calls.reserve,
        .write_at = native_os_calls.write_at,
        .set_xattr = refuse_xattr,
    };
    s_hooks.os = &refusing;
    ASSERT_EQ(hosts_load(), 1);
    ASSERT_GE(hosts_add("5.6.7.8", "b", nullptr), 0);
    int unlabelled = hosts_save();
    std::string unlabelled_error = hosts_last_error();
    bool labelled = setxattr(hosts.c_str(), "security.selinux", label, sizeof label, 0) == 0;
    int labelled_rc = labelled ? hosts_save() : 0;
    std::string labelled_error = hosts_last_error();
    restore_native_hooks();

    EXPECT_EQ(unlabelled, 1) << unlabelled_error;
    EXPECT_EQ(read_bytes(hosts), "1.2.3.4 a\n5.6.7.8 b\n");
    if (!labelled)
        GTEST_SKIP() << "no permission to set an SELinux label here";
    EXPECT_EQ(labelled_rc, -1);
    EXPECT_EQ(labelled_error,
              "cannot open " + hosts +
                  ".tmp for writing: cannot copy security.selinux: Operation not permitted");
    EXPECT_EQ(read_bytes(hosts), "1.2.3.4 a\n5.6.7.8 b\n");
    EXPECT_FALSE(fs::exists(hosts + ".tmp"));
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
    for (const std::string &content :
         {std::string(300000, 'x'), std::string("short\n"), std::string()}) {
        SCOPED_TRACE(content.size());
        write_bytes(hosts, "old content that is longer than a short line\n");
        ASSERT_EQ(chmod(hosts.c_str(), 0604), 0);
        write_bytes(tmp, content);
        sys_error err{};
        ASSERT_EQ(platform::overwrite_in_place(tmp.c_str(), hosts.c_str(), &err), FILE_OK)
            << err.text;
        EXPECT_EQ(read_bytes(hosts), content);
        struct stat after;
        ASSERT_EQ(stat(hosts.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & 07777, 0604u);

        EXPECT_EQ(platform::overwrite_in_place(dir.file("absent").c_str(), hosts.c_str(), &err),
                  FILE_FAILED);
        EXPECT_STREQ(err.text, "No such file or directory");
        EXPECT_EQ(read_bytes(hosts), content);
    }
}

namespace {

int writes_left;          // writes of the new content that go through
int restore_writes_left;  // writes after the first failure that go through
bool failed_once;

int no_room(int, off_t) {
    return ENOSPC;
}

// Lets the counted writes through; the next one writes half its bytes and
// fails.
ssize_t failing_write_at(int fd, const void *data, std::size_t size, off_t offset) {
    int &left = failed_once ? restore_writes_left : writes_left;
    if (left-- > 0)
        return native_os_calls.write_at(fd, data, size, offset);
    failed_once = true;
    if (native_os_calls.write_at(fd, data, size / 2, offset) < 0)
        return -1;
    errno = EIO;
    return -1;
}

// Replaces the hosts file in place, as for a mount point, with the fault
// table above.
file_status replace_in_place(qh_file *, const char *tmp, const char *target, sys_error *err) {
    return platform::overwrite_in_place(tmp, target, err);
}

}  // namespace

// An in-place copy that fails leaves the old bytes; only when they cannot be
// put back does the temporary file stay, named in the error.
TEST_F(UnixTest, FailedInPlaceCopyPutsTheOldBytesBack) {
    const std::string old_content =
        "1.1.1.1 old # the old file\n# comment line\n" + std::string(100000, '#') + "\n";
    const std::string tmp = hosts + ".tmp";
    const std::string failed = "rename " + tmp + " -> " + hosts + " failed: ";
    const os_calls full_disk = {
        .reserve = no_room,
        .write_at = native_os_calls.write_at,
        .set_xattr = native_os_calls.set_xattr,
    };
    const os_calls failing_disk = {
        .reserve = native_os_calls.reserve,
        .write_at = failing_write_at,
        .set_xattr = native_os_calls.set_xattr,
    };
    const struct {
        const char *what;
        const os_calls *calls;
        int writes;
        int restore_writes;
        std::string error;
    } cases[] = {
        {"no room", &full_disk, 0, 0, failed + "No space left on device"},
        {"first write fails", &failing_disk, 0, 1, failed + "Input/output error"},
        {"later write fails", &failing_disk, 3, 1, failed + "Input/output error"},
        {"restoring fails too", &failing_disk, 3, 0,
         failed +
             "Input/output error; restoring the old content failed too: Input/output error; "
             "the new content is kept in " +
             tmp},
    };
    add_many_records(8000);
    const std::string expected = dir.file("expected");
    ASSERT_EQ(hosts_set_path(expected.c_str()), 1);
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    const std::string new_content = read_bytes(expected);
    ASSERT_EQ(hosts_set_path(hosts.c_str()), 1);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        write_bytes(hosts, old_content);
        qh_file_methods in_place = native_file_methods;
        in_place.replace = replace_in_place;
        s_hooks.files = &in_place;
        s_hooks.os = c.calls;
        writes_left = c.writes;
        restore_writes_left = c.restore_writes;
        failed_once = false;

        EXPECT_EQ(hosts_save(), -1);
        restore_native_hooks();
        EXPECT_EQ(hosts_last_error(), c.error);
        const bool temp_kept = c.restore_writes == 0 && c.calls == &failing_disk;
        EXPECT_EQ(fs::exists(tmp), temp_kept);
        if (temp_kept)
            EXPECT_EQ(read_bytes(tmp), new_content);
        else
            EXPECT_EQ(read_bytes(hosts), old_content);
        EXPECT_EQ(hosts_count(), 8000);
    }
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

// A container's hosts file bind-mounted from a small, nearly full file
// system: the in-place save runs out of room and must fail before the first
// old byte changes.
TEST_F(UnixTest, BindMountedFileOnAFullFileSystemKeepsItsBytes) {
    const std::string old_content =
        "# kept by the container runtime\n127.0.0.1 localhost\n10.0.0.1 host.docker.lan\n";
    const std::string small = dir.file("small");
    ASSERT_TRUE(fs::create_directory(small));
    write_bytes(hosts, "");
    add_many_records(3000);
    const std::string expected_error =
        "rename " + hosts + ".tmp -> " + hosts + " failed: No space left on device";
    int status = in_private_mount_namespace([&] {
        const std::string source = small + "/hosts";
        if (mount("qh-small", small.c_str(), "tmpfs", 0, "size=64k") != 0)
            return 77;
        std::FILE *file = std::fopen(source.c_str(), "wb");
        if (file == nullptr || std::fputs(old_content.c_str(), file) < 0 || std::fclose(file) != 0)
            return 2;
        if (mount(source.c_str(), hosts.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return 77;
        if (hosts_save() != -1 || expected_error != hosts_last_error()) {
            std::fprintf(stderr, "save gave: %s\n", hosts_last_error());
            return 3;
        }
        if (fs::exists(hosts + ".tmp"))
            return 4;
        char back[256] = {};
        file = std::fopen(hosts.c_str(), "rb");
        std::size_t got = file != nullptr ? std::fread(back, 1, sizeof back - 1, file) : 0;
        return got == old_content.size() && old_content == back ? 0 : 5;
    });
    if (status == 77)
        GTEST_SKIP() << "no permission to mount a small file system and bind-mount a file in a "
                        "private mount namespace";
    EXPECT_EQ(status, 0) << "2: setup, 3: save result, 4: temporary file left, 5: old file changed";
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
