// The order that makes a save survive a power cut, which killing a process
// cannot show: the temporary file's data is flushed before it replaces the
// old file, and (Linux) the folder is flushed after the replace.
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include "hooks.h"
#include "hosts_internal.h"
#include "support/test_support.h"
#if !defined(_WIN32)
#include "unix/os_calls.h"
#endif

using DurabilityTest = HostsTest;
using Lines = std::vector<std::string>;

namespace {

// The durability steps of a save, each passed on to the real operation.
Lines steps;
std::string flushed_content;
std::string tmp_path;

int recorded_sync(qh_file *file, sys_error *err) {
    steps.push_back("flush data");
#if !defined(_WIN32)
    // What the flush makes durable (Windows lets nobody else open the file).
    flushed_content = read_bytes(tmp_path);
#endif
    return native_file_methods.sync(file, err);
}

file_status recorded_replace(qh_file *file, const char *tmp, const char *target, sys_error *err) {
    steps.push_back("replace");
    return native_file_methods.replace(file, tmp, target, err);
}

int recorded_flush_folder(const char *target, sys_error *err) {
    steps.push_back(std::string("flush folder of ") + target);
    return native_system.flush_folder(target, err);
}

}  // namespace

TEST_F(DurabilityTest, DataIsFlushedBeforeTheReplaceAndTheFolderAfterIt) {
    qh_system recorder = native_system;
    qh_file_methods recorded_files = native_file_methods;
    recorded_files.sync = recorded_sync;
    recorded_files.replace = recorded_replace;
    if (native_system.flush_folder != nullptr)
        recorder.flush_folder = recorded_flush_folder;
    s_hooks.system = &recorder;
    s_hooks.files = &recorded_files;
    tmp_path = hosts + ".tmp";

    for (const char *old_content : {static_cast<const char *>(nullptr), "1.1.1.1 old\n"}) {
        SCOPED_TRACE(old_content ? "replacing a file" : "creating the file");
        if (old_content != nullptr)
            write_bytes(hosts, old_content);
        steps.clear();
        flushed_content.clear();
        reset_lists();
        for (int i = 0; i < 3000; ++i)
            ASSERT_GE(hosts_add("10.1.2.3", ("host" + std::to_string(i)).c_str(), "x"), 0);
        ASSERT_EQ(hosts_save(), 1) << hosts_last_error();

#if defined(_WIN32)
        const Lines expected = {"flush data", "replace"};
#else
        const Lines expected = {"flush data", "replace", "flush folder of " + hosts};
        EXPECT_EQ(flushed_content, read_bytes(hosts))
            << "not every byte was written before the flush";
#endif
        EXPECT_EQ(steps, expected);
    }
}

#if !defined(_WIN32)
namespace {

// Every fsync of the test program while a save is watched: what it flushed,
// and which file the hosts path named at that moment.
struct fsync_call {
    bool folder;
    ino_t flushed;
    ino_t hosts_then;
};
const char *watched_hosts;
std::vector<fsync_call> fsyncs;

ino_t inode_of(const char *path) {
    struct stat st = {};
    return ::stat(path, &st) == 0 ? st.st_ino : 0;
}

}  // namespace

// Stands in for the C library's fsync in this program, the library's core
// included, and passes every call on.
extern "C" int fsync(int fd) {
    using fsync_fn = int (*)(int);
    static const auto real_fsync = reinterpret_cast<fsync_fn>(::dlsym(RTLD_NEXT, "fsync"));
    struct stat st = {};
    if (watched_hosts != nullptr && ::fstat(fd, &st) == 0)
        fsyncs.push_back({S_ISDIR(st.st_mode), st.st_ino, inode_of(watched_hosts)});
    return real_fsync(fd);
}

// The same order, seen in the system calls of the real platform layer.
TEST_F(DurabilityTest, SystemCallsFlushTheNewFileBeforeItsRenameAndTheFolderAfter) {
    write_bytes(hosts, "1.1.1.1 old\n");
    ASSERT_GE(hosts_add("10.1.2.3", "new", nullptr), 0);
    const ino_t old_file = inode_of(hosts.c_str());
    fsyncs.clear();
    watched_hosts = hosts.c_str();
    int rc = hosts_save();
    watched_hosts = nullptr;
    ASSERT_EQ(rc, 1) << hosts_last_error();
    const ino_t new_file = inode_of(hosts.c_str());
    const ino_t folder = inode_of(dir.path().c_str());

    bool data_flushed_before_rename = false;
    bool folder_flushed_after_rename = false;
    for (const fsync_call &call : fsyncs) {
        if (!call.folder && call.flushed == new_file && call.hosts_then == old_file)
            data_flushed_before_rename = true;
        if (call.folder && call.flushed == folder && call.hosts_then == new_file)
            folder_flushed_after_rename = true;
    }
    EXPECT_TRUE(data_flushed_before_rename);
    EXPECT_TRUE(folder_flushed_after_rename);
}

namespace {

int folder_error;

int failing_folder_sync(int) {
    errno = folder_error;
    return -1;
}

}  // namespace

// The rename is done but the folder cannot be flushed: the new file is in
// place and remembered as saved, but the save says it may not survive a
// crash. A file system that cannot flush a folder at all is no failure.
TEST_F(DurabilityTest, FolderThatCannotBeFlushedFailsTheSave) {
    const struct {
        int error;
        int rc;
    } cases[] = {{EIO, -1}, {ENOSPC, -1}, {EINVAL, 1}, {ENOTSUP, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::strerror(c.error));
        load_text("1.1.1.1 old\n");
        ASSERT_GE(hosts_add("2.2.2.2", "new", nullptr), 0);
        os_calls failing = native_os_calls;
        failing.sync_folder = failing_folder_sync;
        folder_error = c.error;
        s_hooks.os = &failing;
        const int rc = hosts_save();
        restore_native_hooks();

        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(hosts_last_error(), c.rc == 1 ? std::string()
                                                : hosts +
                                                      " was replaced but flushing it to disk "
                                                      "failed: " +
                                                      std::strerror(c.error) +
                                                      "; the change may not survive a crash");
        EXPECT_EQ(read_bytes(hosts), "1.1.1.1 old\n2.2.2.2 new\n");
        EXPECT_FALSE(fs::exists(hosts + ".tmp"));
        ASSERT_GE(hosts_add("3.3.3.3", "next", nullptr), 0);
        EXPECT_EQ(hosts_save(), 1) << hosts_last_error();
    }
}
#endif
