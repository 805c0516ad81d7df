// Which file a path names: the system's hosts path, the one conversion of a
// text path to the form the W calls take, and the file a link leads to.
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "internal.h"

namespace platform {

namespace {

// The code page the process's narrow file calls use, which a host may have
// switched to OEM (SetFileApisToOEM): the library reads its paths the same
// way a CreateFileA of the same text would.
UINT file_code_page() {
    return AreFileApisANSI() ? CP_ACP : CP_OEMCP;
}

bool starts_with(const wchar_t *text, const wchar_t *prefix) {
    return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

// Writes `prefix` and then `rest` into `wide`, leaving room for the
// suffixes of a save.
bool put_prefixed(wide_path *wide, const wchar_t *prefix, const wchar_t *rest, sys_error *err) {
    const std::size_t prefix_len = std::wcslen(prefix);
    const std::size_t rest_len = std::wcslen(rest);
    if (prefix_len + rest_len + k_wide_suffix_room >= k_wide_path_size) {
        describe(ERROR_FILENAME_EXCED_RANGE, err);
        return false;
    }
    std::wmemmove(wide->text + prefix_len, rest, rest_len + 1);
    std::wmemcpy(wide->text, prefix, prefix_len);
    wide->length = prefix_len + rest_len;
    return true;
}

// A text that did not fit its buffer is a path too long for the library.
void too_long_or_failed(sys_error *err) {
    const DWORD code = GetLastError();
    describe(code == ERROR_INSUFFICIENT_BUFFER ? ERROR_FILENAME_EXCED_RANGE : code, err);
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

// A path that already has the long prefix is taken as it is: the system
// does not rework such a path, and neither does the library. Any other is
// made absolute first, by the same rules as the narrow calls (".." and "."
// resolved, trailing dots and blanks dropped), so that it names the file a
// CreateFileA of the text would, without its length limit. A \\.\ path is
// a local device path like \\?\, not a network path.
bool to_wide_path(const char *path, wide_path *wide, sys_error *err) {
    wchar_t given[k_path_size];
    if (MultiByteToWideChar(file_code_page(), MB_ERR_INVALID_CHARS, path, -1, given,
                            static_cast<int>(k_path_size)) == 0) {
        too_long_or_failed(err);
        return false;
    }
    if (starts_with(given, L"\\\\?\\"))
        return put_prefixed(wide, L"", given, err);
    DWORD len = GetFullPathNameW(given, static_cast<DWORD>(k_wide_path_size), wide->text, nullptr);
    if (len == 0) {
        fail(err);
        return false;
    }
    if (len >= k_wide_path_size) {
        describe(ERROR_FILENAME_EXCED_RANGE, err);
        return false;
    }
    if (starts_with(wide->text, L"\\\\.\\"))
        return put_prefixed(wide, L"\\\\?\\", wide->text + 4, err);
    if (starts_with(wide->text, L"\\\\"))
        return put_prefixed(wide, L"\\\\?\\UNC\\", wide->text + 2, err);
    return put_prefixed(wide, L"\\\\?\\", wide->text, err);
}

void append(wide_path *wide, const wchar_t *suffix) {
    const std::size_t len = std::wcslen(suffix);
    std::wmemcpy(wide->text + wide->length, suffix, len + 1);
    wide->length += len;
}

// A name the code page cannot write is refused rather than written with a
// stand-in character, which would name another file.
bool to_text_path(const wchar_t *path, char *text, std::size_t size, sys_error *err) {
    wchar_t unc[k_wide_path_size];
    if (starts_with(path, L"\\\\?\\UNC\\")) {
        std::swprintf(unc, k_wide_path_size, L"\\\\%ls", path + 8);
        path = unc;
    } else if (starts_with(path, L"\\\\?\\")) {
        path += 4;
    }
    const UINT code_page = file_code_page();
    const bool utf8 = (code_page == CP_ACP ? GetACP() : GetOEMCP()) == CP_UTF8;
    BOOL lossy = FALSE;
    int len =
        WideCharToMultiByte(code_page, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, path, -1,
                            text, static_cast<int>(size), nullptr, utf8 ? nullptr : &lossy);
    if (len == 0) {
        too_long_or_failed(err);
        return false;
    }
    if (lossy) {
        describe(ERROR_NO_UNICODE_TRANSLATION, err);
        return false;
    }
    return true;
}

// Opens the file at `path` (following a symbolic link) only to look at it:
// a folder, device or pipe is refused, and a link is replaced by its target.
int resolve_target(const char *path, char *target, std::size_t size, sys_error *err) {
    if (std::snprintf(target, size, "%s", path) >= static_cast<int>(size)) {
        describe(ERROR_FILENAME_EXCED_RANGE, err);
        return -1;
    }
    wide_path wide;
    if (!to_wide_path(path, &wide, err))
        return -1;
    // A device has no attributes to give under its long name, so it is
    // opened in any case, to be refused as no regular file.
    DWORD attributes = GetFileAttributesW(wide.text);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        attributes = 0;
    HANDLE handle = CreateFileW(wide.text, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)  // absent, or a failure the save's own steps report
        return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? fail(err) : 0;
    BY_HANDLE_FILE_INFORMATION info;
    bool regular = GetFileType(handle) == FILE_TYPE_DISK &&
                   GetFileInformationByHandle(handle, &info) &&
                   !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    DWORD len = 0;
    if (regular && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        len = GetFinalPathNameByHandleW(handle, wide.text, static_cast<DWORD>(k_wide_path_size),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(handle);
    if (!regular) {
        say("not a regular file", err);
        return -1;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return 0;
    if (len == 0 || len >= k_wide_path_size)
        return fail(err);
    return to_text_path(wide.text, target, size, err) ? 0 : -1;
}

}  // namespace platform
