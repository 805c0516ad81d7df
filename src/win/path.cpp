// Which file a path names: the system's hosts path, and the file a link
// leads to.
#include <cstdio>
#include <cstring>

#include "internal.h"

namespace platform {

namespace {

// Drops the long-path prefix that GetFinalPathNameByHandleA puts before a
// drive letter or, as UNC, before a server name.
const char *without_long_prefix(const char *path, char *room, std::size_t size) {
    if (std::strncmp(path, "\\\\?\\UNC\\", 8) == 0) {
        std::snprintf(room, size, "\\\\%s", path + 8);
        return room;
    }
    return std::strncmp(path, "\\\\?\\", 4) == 0 ? path + 4 : path;
}

}  // namespace

const char *default_path() {
    static char room[MAX_PATH + 32];
    static const char *chosen = nullptr;
    if (chosen == nullptr) {
        char dir[MAX_PATH];
        UINT len = GetSystemDirectoryA(dir, sizeof dir);
        chosen = hosts_path_in(len > 0 && len < sizeof dir ? dir : "", room, sizeof room);
    }
    return chosen;
}

const char *hosts_path_in(const char *system_dir, char *room, std::size_t size) {
    static const char standard_dir[] = "C:\\Windows\\System32";
    static const char standard_path[] = "C:\\Windows\\System32\\drivers\\etc\\hosts";
    if (system_dir[0] == '\0' || _stricmp(system_dir, standard_dir) == 0)
        return standard_path;
    int len = std::snprintf(room, size, "%s\\drivers\\etc\\hosts", system_dir);
    return len > 0 && static_cast<std::size_t>(len) < size ? room : standard_path;
}

// Opens the file at `path` (following a symbolic link) only to look at it:
// a folder, device or pipe is refused, and a link is replaced by its target.
int resolve_target(const char *path, char *target, std::size_t size, sys_error *err) {
    if (std::snprintf(target, size, "%s", path) >= static_cast<int>(size)) {
        describe(ERROR_FILENAME_EXCED_RANGE, err);
        return -1;
    }
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return 0;  // absent, or a failure that the save's own steps report
    HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? fail(err) : 0;
    BY_HANDLE_FILE_INFORMATION info;
    bool regular = GetFileType(handle) == FILE_TYPE_DISK &&
                   GetFileInformationByHandle(handle, &info) &&
                   !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    char final_path[k_path_size];
    DWORD len = 0;
    if (regular && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        len = GetFinalPathNameByHandleA(handle, final_path, sizeof final_path,
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(handle);
    if (!regular) {
        say("not a regular file", err);
        return -1;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return 0;
    if (len == 0 || len >= sizeof final_path)
        return fail(err);
    char room[k_path_size];
    if (std::snprintf(target, size, "%s", without_long_prefix(final_path, room, sizeof room)) >=
        static_cast<int>(size)) {
        describe(ERROR_FILENAME_EXCED_RANGE, err);
        return -1;
    }
    return 0;
}

}  // namespace platform
