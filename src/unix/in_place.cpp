// Saving in place, for a hosts file that cannot be renamed over.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "../heap_buffer.h"
#include "internal.h"

namespace platform {

namespace {

// Moves all `size` bytes at `offset` through `call` (a pread or pwrite),
// going on after short transfers and interruptions; a transfer of nothing
// is an error, since the file is never shorter than what is asked of it.
template <typename Bytes, typename Call>
int transfer_all_at(int fd, Bytes *data, std::size_t size, off_t offset, Call call,
                    sys_error *err) {
    while (size > 0) {
        ssize_t n = call(fd, data, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            describe(n < 0 ? errno : EIO, err);
            return -1;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return 0;
}

int read_at(int fd, char *data, std::size_t size, off_t offset, sys_error *err) {
    return transfer_all_at(fd, data, size, offset, ::pread, err);
}

int write_at(int fd, const char *data, std::size_t size, off_t offset, sys_error *err) {
    return transfer_all_at(fd, data, size, offset, calls().write_at, err);
}

// Sets `out`'s mode bits to `mode` where the writes cleared some, and
// flushes the file.
int finish(int out, mode_t mode, sys_error *err) {
    struct stat now;
    if (::fstat(out, &now) != 0 || ((now.st_mode & 07777) != mode && ::fchmod(out, mode) != 0) ||
        ::fsync(out) != 0)
        return fail(err);
    return 0;
}

// Copies the whole of `in` to the start of `out`, cuts `out` to that size
// and gives it `mode` again.
int copy_over(int in, std::size_t size, int out, mode_t mode, sys_error *err) {
    char buf[64 * 1024];
    for (std::size_t done = 0; done < size;) {
        std::size_t chunk = size - done < sizeof buf ? size - done : sizeof buf;
        off_t offset = static_cast<off_t>(done);
        if (read_at(in, buf, chunk, offset, err) != 0 ||
            write_at(out, buf, chunk, offset, err) != 0)
            return -1;
        done += chunk;
    }
    if (::ftruncate(out, static_cast<off_t>(size)) != 0)
        return fail(err);
    return finish(out, mode, err);
}

int put_back(int out, const char *old, std::size_t size, mode_t mode, sys_error *err) {
    if (write_at(out, old, size, 0, err) != 0)
        return -1;
    if (::ftruncate(out, static_cast<off_t>(size)) != 0)
        return fail(err);
    return finish(out, mode, err);
}

file_status restore_failed(const char *reason, sys_error *err) {
    std::size_t used = std::strlen(err->text);
    std::snprintf(err->text + used, sizeof err->text - used,
                  "; restoring the old content failed too: %s", reason);
    return FILE_TEMP_KEPT;
}

// With both files open: the old bytes are kept in memory, the room for the
// new content is taken before the first old byte changes, and after a
// failure part-way the old bytes are written back. The room is taken
// without lengthening the file, so that a reader meanwhile never sees it
// grown with zeros; where the file system cannot do that, a full disk shows
// at the first write that fails, and the old bytes go back.
file_status overwrite_from(int in, int out, sys_error *err) {
    struct stat new_st;
    struct stat old_st;
    if (::fstat(in, &new_st) != 0 || ::fstat(out, &old_st) != 0) {
        fail(err);
        return FILE_FAILED;
    }
    std::size_t new_size = static_cast<std::size_t>(new_st.st_size);
    std::size_t old_size = static_cast<std::size_t>(old_st.st_size);
    const mode_t mode = old_st.st_mode & 07777;
    heap_buffer old(old_size);
    if (old.get() == nullptr) {
        describe(ENOMEM, err);
        return FILE_FAILED;
    }
    if (read_at(out, old.get(), old_size, 0, err) != 0)
        return FILE_FAILED;
    if (new_size > old_size) {
        int code = calls().reserve(out, static_cast<off_t>(new_size));
        if (code != 0 && code != EOPNOTSUPP) {
            describe(code, err);
            return FILE_FAILED;
        }
    }
    if (copy_over(in, new_size, out, mode, err) == 0)
        return FILE_OK;
    sys_error restore{};
    if (put_back(out, old.get(), old_size, mode, &restore) == 0)
        return FILE_FAILED;
    return restore_failed(restore.text, err);
}

}  // namespace

// When the hosts file is a mount point (a container's bind-mounted
// /etc/hosts) it cannot be renamed over; copying in place is the only way,
// and the one case where a crash mid-copy can leave a partial file. The
// exclusive lock keeps this library's loads out while the copy runs (they
// take a shared one); other readers can see the new bytes followed by the
// rest of the old ones.
file_status overwrite_in_place(int in, const char *target, sys_error *err) {
    // Read and write: the old bytes are read from the same descriptor.
    int out = ::open(target, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (out < 0) {
        fail(err);
        return FILE_FAILED;
    }
    struct stat st;
    file_status result = FILE_FAILED;
    if (::fstat(out, &st) != 0) {
        fail(err);
    } else if (!S_ISREG(st.st_mode)) {
        say("not a regular file", err);
    } else if (::flock(out, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        describe(EWOULDBLOCK, err);
        result = FILE_BUSY;
    } else {
        result = overwrite_from(in, out, err);
    }
    ::close(out);
    return result;
}

}  // namespace platform
