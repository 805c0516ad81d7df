#include "files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

bool errno_error(const std::string &what, std::string &error) {
    error = what + ": " + std::strerror(errno);
    return false;
}

// Closes `fd` on every way out of a scope.
class descriptor {
public:
    explicit descriptor(int fd) : fd_(fd) {}
    descriptor(const descriptor &) = delete;
    descriptor &operator=(const descriptor &) = delete;
    ~descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now; false when the close reports an error.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool write_all(int fd, const char *data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool read_all(int fd, std::string &bytes) {
    bytes.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

// Makes a rename in the folder of `path` durable, as the library does after
// its replace.
void sync_folder_of(const std::string &path) {
    const int fd = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// A new file of this process's own beside `path`: mkstemp never follows a
// link and never takes a name that exists.
int create_beside(const std::string &path, std::string &tmp) {
    std::string pattern = path + ".XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd >= 0)
        tmp = pattern;
    return fd;
}

// Gives `fd` the extended attributes of `from` (an SELinux label among
// them), so that a confined reader may still read the new file.
bool copy_attributes(int from, int fd) {
    const ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size < 0)
        return errno == ENOTSUP;
    std::string names(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::flistxattr(from, names.data(), names.size());
    if (got < 0)
        return false;
    for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
        const char *name = names.c_str() + at;
        at += std::strlen(name) + 1;
        const ssize_t length = ::fgetxattr(from, name, nullptr, 0);
        if (length < 0)
            return false;
        std::string value(static_cast<std::size_t>(length), '\0');
        if (::fgetxattr(from, name, value.data(), value.size()) != length ||
            ::fsetxattr(fd, name, value.data(), value.size(), 0) != 0)
            return false;
    }
    return true;
}

// Puts `tmp` in place at `path` without replacing a file there; EEXIST when
// there is one. `renamed` tells whether `tmp` is gone, or still names the
// file beside its new name.
bool link_new(const std::string &tmp, const std::string &path, bool &renamed) {
    renamed = false;
    if (::link(tmp.c_str(), path.c_str()) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    // File systems without hard links: a rename after a look, which a
    // second writer of the same new name could only race, never lose.
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0) {
        errno = EEXIST;
        return false;
    }
    renamed = ::rename(tmp.c_str(), path.c_str()) == 0;
    return renamed;
}

}  // namespace

read_result read_file(const std::string &path, std::string &bytes, std::string &error) {
    descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT)
            return read_result::absent;
        errno_error("cannot read " + path, error);
        return read_result::failed;
    }
    if (!read_all(fd.get(), bytes)) {
        errno_error("cannot read " + path, error);
        return read_result::failed;
    }
    return read_result::ok;
}

bool path_exists(const std::string &path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

bool make_temp_file(std::string &path) {
    const char *dir = std::getenv("TMPDIR");
    std::string pattern = (dir && *dir) ? dir : "/tmp";
    pattern += "/qhosts-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return false;
    ::close(fd);
    path = pattern;
    return true;
}

std::string system_hosts_path() {
    return "/etc/hosts";
}

std::string folder_of(const std::string &path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_in_folder(const std::string &path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool list_folder(const std::string &folder, std::vector<std::string> &names, std::string &error) {
    DIR *dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return errno_error("cannot list " + folder, error);
    errno = 0;
    while (const dirent *entry = ::readdir(dir))
        names.push_back(entry->d_name);
    const bool ok = errno == 0;
    ::closedir(dir);
    return ok || errno_error("cannot list " + folder, error);
}

bool remove_file(const std::string &path, std::string &error) {
    return ::unlink(path.c_str()) == 0 || errno_error("cannot remove " + path, error);
}

write_result write_copy(const std::string &bytes, const std::string &path, const std::string &like,
                        bool replace, std::string &error) {
    std::string tmp;
    descriptor out(create_beside(path, tmp));
    if (out.get() < 0) {
        error = std::strerror(errno);
        return write_result::failed;
    }
    struct stat info;
    const mode_t mode = ::stat(like.c_str(), &info) == 0 ? info.st_mode & 07777 : 0644;
    bool placed = ::fchmod(out.get(), mode) == 0 &&
                  write_all(out.get(), bytes.data(), bytes.size()) && ::fsync(out.get()) == 0 &&
                  out.close();
    bool renamed = false;
    if (placed && replace)
        placed = renamed = ::rename(tmp.c_str(), path.c_str()) == 0;
    else if (placed)
        placed = link_new(tmp, path, renamed);
    const int saved_errno = errno;
    // After a link both names lead to the file; the temporary one goes. A
    // rename took that name away, and another process may have it now.
    if (!renamed)
        ::unlink(tmp.c_str());
    if (!placed) {
        errno = saved_errno;
        if (!replace && errno == EEXIST)
            return write_result::exists;
        error = std::strerror(errno);
        return write_result::failed;
    }
    sync_folder_of(path);
    return write_result::written;
}

bool replace_contents(const std::string &path, const std::string &bytes,
                      const std::optional<std::string> &expected, std::string &error) {
    // A symbolic link stays: the file it leads to is replaced, as the
    // library's save does.
    std::string target = path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr)
        target = resolved;
    const std::string what = "cannot replace " + path;
    descriptor current(::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (current.get() < 0 && !(errno == ENOENT && !expected))
        return errno_error(what, error);
    struct stat info {};
    if (current.get() >= 0 && ::fstat(current.get(), &info) != 0)
        return errno_error(what, error);
    std::string tmp;
    descriptor out(create_beside(target, tmp));
    if (out.get() < 0)
        return errno_error(what, error);
    bool ok = true;
    if (current.get() >= 0) {
        // Owner first: a change of owner clears the set-user-ID bits that
        // the mode then puts back.
        ok = (::fchown(out.get(), info.st_uid, info.st_gid) == 0 ||
              (info.st_uid == ::geteuid() && info.st_gid == ::getegid())) &&
             copy_attributes(current.get(), out.get()) &&
             ::fchmod(out.get(), info.st_mode & 07777) == 0;
    } else {
        ok = ::fchmod(out.get(), 0644) == 0;
    }
    ok = ok && write_all(out.get(), bytes.data(), bytes.size()) && ::fsync(out.get()) == 0 &&
         out.close();
    if (!ok) {
        errno_error(what, error);
        ::unlink(tmp.c_str());
        return false;
    }
    // The late check: whatever another program wrote since the caller read
    // the file would be lost by the rename.
    std::string now;
    std::string read_error;
    const read_result state = read_file(target, now, read_error);
    const bool unchanged =
        expected ? state == read_result::ok && now == *expected : state == read_result::absent;
    if (!unchanged) {
        ::unlink(tmp.c_str());
        error = path + " changed since it was loaded";
        return false;
    }
    if (::rename(tmp.c_str(), target.c_str()) != 0) {
        errno_error(what, error);
        ::unlink(tmp.c_str());
        return false;
    }
    sync_folder_of(target);
    return true;
}

bool is_system_hosts_file(const std::string &path) {
    return path == system_hosts_path();
}

std::string resolver_folder_elsewhere(const std::string &) {
    return std::string();
}

bool refused_access(const std::string &error_text) {
    return error_text.ends_with(std::string(": ") + std::strerror(EACCES)) ||
           error_text.ends_with(std::string(": ") + std::strerror(EPERM));
}

const char *elevation_hint() {
    return "hint: the system refused access; run qhosts as root (for example with sudo)";
}
