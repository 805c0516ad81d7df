// What a replaced file keeps beyond its bytes: owner, group, mode bits
// and extended attributes.
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "../heap_buffer.h"
#include "internal.h"

namespace platform {

namespace {

// An extended attribute that this process may not read or set, or that the
// file system does not take, is left out; not so the SELinux label: a file
// without it may be unreadable to a confined resolver.
bool may_leave_out(const char *name, int code) {
    bool refused = code == ENOTSUP || code == EPERM || code == EACCES || code == ENODATA;
    return refused && std::strcmp(name, "security.selinux") != 0;
}

int xattr_failed(const char *name, sys_error *err) {
    if (may_leave_out(name, errno))
        return 0;
    std::snprintf(err->text, sizeof err->text, "cannot copy %s: %s", name, std::strerror(errno));
    return -1;
}

int copy_xattr(int from, int to, const char *name, sys_error *err) {
    ssize_t size = ::fgetxattr(from, name, nullptr, 0);
    if (size < 0)
        return xattr_failed(name, err);
    heap_buffer value(static_cast<std::size_t>(size));
    if (value.get() == nullptr) {
        describe(ENOMEM, err);
        return -1;
    }
    size = ::fgetxattr(from, name, value.get(), static_cast<std::size_t>(size));
    if (size < 0 || calls().set_xattr(to, name, value.get(), static_cast<std::size_t>(size)) != 0)
        return xattr_failed(name, err);
    return 0;
}

int copy_xattrs(int from, int to, sys_error *err) {
    ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size <= 0)
        return size == 0 || errno == ENOTSUP ? 0 : fail(err);
    heap_buffer names(static_cast<std::size_t>(size));
    if (names.get() == nullptr) {
        describe(ENOMEM, err);
        return -1;
    }
    size = ::flistxattr(from, names.get(), static_cast<std::size_t>(size));
    if (size < 0)
        return fail(err);
    for (const char *name = names.get(); name < names.get() + size; name += std::strlen(name) + 1) {
        if (copy_xattr(from, to, name, err) != 0)
            return -1;
    }
    return 0;
}

}  // namespace

// Gives the new file what the old one had beyond its bytes: owner and group
// (as root), extended attributes (SELinux label, ACLs) and mode bits with
// set-user-ID and set-group-ID. The owner goes first because a change of
// owner clears those two bits; a write by anyone but root clears them too,
// so the mode bits are set once more after the last write (file.cpp,
// in_place.cpp).
int copy_metadata(const char *target, int to, sys_error *err) {
    int from = ::open(target, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (from < 0)
        return errno == ENOENT ? 0 : fail(err);
    struct stat old;
    int rc = ::fstat(from, &old) == 0 ? 0 : fail(err);
    if (rc == 0 && ::geteuid() == 0 && ::fchown(to, old.st_uid, old.st_gid) != 0)
        rc = fail(err);
    if (rc == 0)
        rc = copy_xattrs(from, to, err);
    if (rc == 0 && ::fchmod(to, old.st_mode & 07777) != 0)
        rc = fail(err);
    ::close(from);
    return rc;
}

}  // namespace platform
