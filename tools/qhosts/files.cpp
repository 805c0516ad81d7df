#include "files.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "text.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace {

#if defined(_WIN32)

// The system's text for `code`, trimmed the way the library trims it, so
// that the two can be compared.
std::string system_text(DWORD code) {
    char text[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                          text[length - 1] == ' ' || text[length - 1] == '.'))
        --length;
    if (length == 0)
        return "Win32 error " + std::to_string(code);
    return std::string(text, length);
}

std::wstring to_wide(const std::string &text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));
    return wide;
}

std::string to_text(const std::wstring &wide) {
    const int length =
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::string();
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, text.data(), length, nullptr, nullptr);
    text.resize(static_cast<std::size_t>(length - 1));
    return text;
}

// `path` made absolute, without a trailing backslash; empty on failure.
std::wstring full_path(const std::wstring &path) {
    const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0)
        return std::wstring();
    std::wstring full(length, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
    if (written == 0 || written >= length)
        return std::wstring();
    full.resize(written);
    while (full.size() > 3 && full.back() == L'\\')
        full.pop_back();
    return full;
}

bool same_path(const std::wstring &a, const std::wstring &b) {
    return !a.empty() && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// DataBasePath as the resolver reads it; empty when it is not set.
std::wstring resolver_folder() {
    const wchar_t key[] = L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";
    const DWORD flags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    DWORD size = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, L"DataBasePath", flags, nullptr, nullptr, &size) !=
            ERROR_SUCCESS ||
        size < sizeof(wchar_t))
        return std::wstring();
    std::wstring value(size / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, L"DataBasePath", flags, nullptr, value.data(),
                     &size) != ERROR_SUCCESS)
        return std::wstring();
    value.resize(wcsnlen(value.c_str(), value.size()));
    const DWORD length = ExpandEnvironmentStringsW(value.c_str(), nullptr, 0);
    if (length == 0)
        return std::wstring();
    std::wstring expanded(length, L'\0');
    if (ExpandEnvironmentStringsW(value.c_str(), expanded.data(), length) == 0)
        return std::wstring();
    expanded.resize(wcsnlen(expanded.c_str(), expanded.size()));
    return full_path(expanded);
}

bool win32_error(const std::string &what, std::string &error) {
    error = what + ": " + system_text(GetLastError());
    return false;
}

bool copy_handle(HANDLE in, HANDLE out) {
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in, buffer, sizeof buffer, &got, nullptr))
            return false;
        if (got == 0)
            return true;
        DWORD written = 0;
        if (!WriteFile(out, buffer, got, &written, nullptr) || written != got)
            return false;
    }
}

#else

bool errno_error(const std::string &what, std::string &error) {
    error = what + ": " + std::strerror(errno);
    return false;
}

bool copy_fd(int in, int out) {
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0;
        for (ssize_t done = 0; done < got;) {
            const ssize_t written = ::write(out, buffer + done, static_cast<size_t>(got - done));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return false;
            done += written;
        }
    }
}

// Makes the rename itself durable, as the library does after its replace.
void sync_folder_of(const std::string &path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

#endif

}  // namespace

bool make_temp_file(std::string &path) {
#if defined(_WIN32)
    char dir[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof dir, dir);
    if (length == 0 || length > sizeof dir)
        return false;
    char name[MAX_PATH + 1];
    if (GetTempFileNameA(dir, "qhs", 0, name) == 0)
        return false;
    path = name;
#else
    const char *dir = std::getenv("TMPDIR");
    std::string pattern = (dir && *dir) ? dir : "/tmp";
    pattern += "/qhosts-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0)
        return false;
    close(fd);
    path = buffer.data();
#endif
    return true;
}

bool copy_to_stdout(const std::string &path) {
    std::FILE *in = std::fopen(path.c_str(), "rb");
    if (!in)
        return false;
    char buffer[8192];
    bool ok = true;
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        if (std::fwrite(buffer, 1, n, stdout) != n) {
            ok = false;
            break;
        }
    }
    if (std::ferror(in))
        ok = false;
    std::fclose(in);
    return ok;
}

std::string system_hosts_path() {
#if defined(_WIN32)
    char dir[MAX_PATH];
    const UINT length = GetSystemDirectoryA(dir, sizeof dir);
    if (length == 0 || length >= sizeof dir)
        return "C:\\Windows\\System32\\drivers\\etc\\hosts";
    return std::string(dir, length) + "\\drivers\\etc\\hosts";
#else
    return "/etc/hosts";
#endif
}

bool write_backup(const std::string &path, std::string &error) {
    const std::string backup = path + ".bak";
    const std::string what = "cannot back up " + path + " to " + backup;
#if defined(_WIN32)
    HANDLE in = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND)
            return true;
        error = what + ": " + system_text(code);
        return false;
    }
    // A name of this process's own: two backups at once never share a file.
    const std::string tmp = backup + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
    DeleteFileA(tmp.c_str());  // left by a crashed run that had the same id
    HANDLE out = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        CloseHandle(in);
        return win32_error(what, error);
    }
    const bool copied = copy_handle(in, out) && FlushFileBuffers(out);
    const DWORD code = GetLastError();
    CloseHandle(in);
    if (!CloseHandle(out) || !copied ||
        !MoveFileExA(tmp.c_str(), backup.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = what + ": " + system_text(copied ? GetLastError() : code);
        DeleteFileA(tmp.c_str());
        return false;
    }
    return true;
#else
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno == ENOENT || errno_error(what, error);
    struct stat info;
    if (::fstat(in, &info) != 0) {
        errno_error(what, error);
        ::close(in);
        return false;
    }
    // mkstemp gives a name of this process's own and never follows a link.
    std::vector<char> tmp(backup.begin(), backup.end());
    const char suffix[] = ".XXXXXX";
    tmp.insert(tmp.end(), suffix, suffix + sizeof suffix);
    const int out = ::mkstemp(tmp.data());
    if (out < 0) {
        errno_error(what, error);
        ::close(in);
        return false;
    }
    const bool written =
        ::fchmod(out, info.st_mode & 07777) == 0 && copy_fd(in, out) && ::fsync(out) == 0;
    const int saved_errno = errno;
    ::close(in);
    const bool closed = ::close(out) == 0;
    if (!written || !closed || ::rename(tmp.data(), backup.c_str()) != 0) {
        if (!written)
            errno = saved_errno;
        errno_error(what, error);
        ::unlink(tmp.data());
        return false;
    }
    sync_folder_of(backup);
    return true;
#endif
}

bool is_system_hosts_file(const std::string &path) {
#if defined(_WIN32)
    return same_path(full_path(to_wide(path)), full_path(to_wide(system_hosts_path())));
#else
    return path == system_hosts_path();
#endif
}

std::string resolver_folder_elsewhere([[maybe_unused]] const std::string &path) {
#if defined(_WIN32)
    const std::wstring folder = resolver_folder();
    std::wstring file_folder = full_path(to_wide(path));
    const std::size_t slash = file_folder.find_last_of(L"\\/");
    // The root folder keeps its backslash: "C:" alone is C:'s current folder.
    file_folder.resize(slash == std::wstring::npos ? 0 : slash == 2 ? 3 : slash);
    if (folder.empty() || same_path(folder, full_path(file_folder)))
        return std::string();
    return to_text(folder);
#else
    return std::string();
#endif
}

bool refused_access(const std::string &error_text) {
#if defined(_WIN32)
    return error_text.ends_with(": " + system_text(ERROR_ACCESS_DENIED));
#else
    return error_text.ends_with(std::string(": ") + std::strerror(EACCES)) ||
           error_text.ends_with(std::string(": ") + std::strerror(EPERM));
#endif
}

const char *elevation_hint() {
#if defined(_WIN32)
    return "hint: the system refused access; run qhosts from an elevated prompt (Run as "
           "administrator)";
#else
    return "hint: the system refused access; run qhosts as root (for example with sudo)";
#endif
}
