// Which file a path names: the default hosts path, the file a link leads
// to, and the folder that holds a file.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "internal.h"

namespace platform {

const char *default_path() {
    return "/etc/hosts";
}

// Follows symbolic links at the end of `path` to the file they lead to; a
// relative link is taken from the folder of the link.
int resolve_target(const char *path, char *target, std::size_t size, sys_error *err) {
    if (std::snprintf(target, size, "%s", path) >= static_cast<int>(size)) {
        describe(ENAMETOOLONG, err);
        return -1;
    }
    for (int links = 0;; ++links) {
        struct stat st;
        if (::lstat(target, &st) != 0)
            return 0;  // absent, or a failure that the save's own steps report
        if (S_ISREG(st.st_mode))
            return 0;
        if (!S_ISLNK(st.st_mode)) {
            say("not a regular file", err);
            return -1;
        }
        char link[k_path_size];
        ssize_t len = ::readlink(target, link, sizeof link - 1);
        if (len < 0)
            return fail(err);
        link[len] = '\0';
        const char *slash = std::strrchr(target, '/');
        int folder = link[0] == '/' || slash == nullptr ? 0 : static_cast<int>(slash - target + 1);
        char next[k_path_size];
        int next_len = std::snprintf(next, sizeof next, "%.*s%s", folder, target, link);
        if (links == 40 || next_len >= static_cast<int>(size) ||
            next_len >= static_cast<int>(sizeof next)) {
            describe(links == 40 ? ELOOP : ENAMETOOLONG, err);
            return -1;
        }
        std::memcpy(target, next, static_cast<std::size_t>(next_len) + 1);
    }
}

// The folder holding `path`, for a lock or a flush.
void parent_dir(const char *path, char (&dir)[k_path_size]) {
    const char *slash = std::strrchr(path, '/');
    if (slash == nullptr)
        std::snprintf(dir, sizeof dir, ".");
    else if (slash == path)
        std::snprintf(dir, sizeof dir, "/");
    else
        std::snprintf(dir, sizeof dir, "%.*s", static_cast<int>(slash - path), path);
}

}  // namespace platform
