#include "files.h"

#include <windows.h>

namespace {

// How long a replace waits for a file another program holds open.
const int k_busy_attempts = 20;
const DWORD k_busy_pause_ms = 50;

// Paths are 8-bit text in the code page that the file functions use, as the
// library reads them.
UINT path_code_page() {
    return AreFileApisANSI() ? CP_ACP : CP_OEMCP;
}

std::wstring to_wide(const std::string &text) {
    const UINT page = path_code_page();
    const int length = MultiByteToWideChar(page, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(page, 0, text.c_str(), -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));
    return wide;
}

std::string to_text(const std::wstring &wide) {
    const UINT page = path_code_page();
    const int length = WideCharToMultiByte(page, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::string();
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(page, 0, wide.c_str(), -1, text.data(), length, nullptr, nullptr);
    text.resize(static_cast<std::size_t>(length - 1));
    return text;
}

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

bool win32_error(const std::string &what, std::string &error, DWORD code = GetLastError()) {
    error = what + ": " + system_text(code);
    return false;
}

// Closes a handle on every way out of a scope.
class handle {
public:
    explicit handle(HANDLE h) : h_(h) {}
    handle(const handle &) = delete;
    handle &operator=(const handle &) = delete;
    ~handle() {
        if (valid())
            CloseHandle(h_);
    }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }
    bool close() {
        const HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return CloseHandle(h) != 0;
    }

private:
    HANDLE h_;
};

bool write_all(HANDLE file, const std::string &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

// A new file beside `path` under a name of this process's own, created
// afresh (never through what was at that name), with `bytes` in it and
// flushed to disk. Empty on failure, with the system's code in `code`.
std::wstring write_beside(const std::wstring &path, const std::string &bytes, DWORD &code) {
    const std::wstring tmp = path + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                             std::to_wstring(GetTickCount64()) + L".tmp";
    handle out(CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.valid()) {
        code = GetLastError();
        return std::wstring();
    }
    const bool written = write_all(out.get(), bytes) && FlushFileBuffers(out.get());
    code = GetLastError();
    if (!out.close() || !written) {
        if (written)
            code = GetLastError();
        DeleteFileW(tmp.c_str());
        return std::wstring();
    }
    return tmp;
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

}  // namespace

read_result read_file(const std::string &path, std::string &bytes, std::string &error) {
    bytes.clear();
    handle in(CreateFileW(to_wide(path).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in.valid()) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return read_result::absent;
        win32_error("cannot read " + path, error, code);
        return read_result::failed;
    }
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in.get(), buffer, sizeof buffer, &got, nullptr)) {
            win32_error("cannot read " + path, error);
            return read_result::failed;
        }
        if (got == 0)
            return read_result::ok;
        bytes.append(buffer, got);
    }
}

bool path_exists(const std::string &path) {
    return GetFileAttributesW(to_wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool make_temp_file(std::string &path) {
    wchar_t dir[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, dir);
    if (length == 0 || length > MAX_PATH)
        return false;
    wchar_t name[MAX_PATH + 1];
    if (GetTempFileNameW(dir, L"qhs", 0, name) == 0)
        return false;
    path = to_text(name);
    return true;
}

std::string system_hosts_path() {
    wchar_t dir[MAX_PATH];
    const UINT length = GetSystemDirectoryW(dir, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return "C:\\Windows\\System32\\drivers\\etc\\hosts";
    return to_text(std::wstring(dir, length)) + "\\drivers\\etc\\hosts";
}

std::string folder_of(const std::string &path) {
    const std::size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos)
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
    // The root keeps its separator: "C:" alone is C:'s current folder.
    return path.substr(0, slash == 0 || (slash == 2 && path[1] == ':') ? slash + 1 : slash);
}

std::string name_in_folder(const std::string &path) {
    const std::size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos)
        return path.size() >= 2 && path[1] == ':' ? path.substr(2) : path;
    return path.substr(slash + 1);
}

bool list_folder(const std::string &folder, std::vector<std::string> &names, std::string &error) {
    WIN32_FIND_DATAW found;
    const std::wstring pattern = to_wide(folder) + L"\\*";
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return win32_error("cannot list " + folder, error);
    do {
        names.push_back(to_text(found.cFileName));
    } while (FindNextFileW(search, &found));
    const DWORD code = GetLastError();
    FindClose(search);
    return code == ERROR_NO_MORE_FILES || win32_error("cannot list " + folder, error, code);
}

bool remove_file(const std::string &path, std::string &error) {
    return DeleteFileW(to_wide(path).c_str()) || win32_error("cannot remove " + path, error);
}

write_result write_copy(const std::string &bytes, const std::string &path, const std::string &,
                        bool replace, std::string &error) {
    // The copy takes the folder's inherited permissions, as any new file
    // there does.
    const std::wstring wide = to_wide(path);
    DWORD code = 0;
    const std::wstring tmp = write_beside(wide, bytes, code);
    if (tmp.empty()) {
        error = system_text(code);
        return write_result::failed;
    }
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(tmp.c_str(), wide.c_str(), flags)) {
        code = GetLastError();
        DeleteFileW(tmp.c_str());
        if (!replace && (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS))
            return write_result::exists;
        error = system_text(code);
        return write_result::failed;
    }
    return write_result::written;
}

bool replace_contents(const std::string &path, const std::string &bytes,
                      const std::optional<std::string> &expected, std::string &error) {
    const std::string what = "cannot replace " + path;
    const std::wstring wide = to_wide(path);
    DWORD code = 0;
    const std::wstring tmp = write_beside(wide, bytes, code);
    if (tmp.empty())
        return win32_error(what, error, code);
    // The late check: whatever another program wrote since the caller read
    // the file would be lost by the replace.
    std::string now, read_error;
    const read_result state = read_file(path, now, read_error);
    const bool unchanged =
        expected ? state == read_result::ok && now == *expected : state == read_result::absent;
    if (!unchanged) {
        DeleteFileW(tmp.c_str());
        error = path + " changed since it was loaded";
        return false;
    }
    if (!expected) {
        if (MoveFileExW(tmp.c_str(), wide.c_str(), MOVEFILE_WRITE_THROUGH))
            return true;
        code = GetLastError();
        DeleteFileW(tmp.c_str());
        return win32_error(what, error, code);
    }
    // ReplaceFileW gives the new file the old one's security descriptor,
    // attributes and creation time. With a name for the old file it never
    // leaves the path empty: if it cannot move the new file in, the old one
    // is put back from that name.
    const std::wstring old = tmp + L".old";
    // A scanner or the DNS client holds the hosts file open for a moment;
    // the library's save waits for them about a second, and so does this.
    for (int attempt = 0;; ++attempt) {
        if (ReplaceFileW(wide.c_str(), tmp.c_str(), old.c_str(), REPLACEFILE_IGNORE_MERGE_ERRORS,
                         nullptr, nullptr)) {
            DeleteFileW(old.c_str());
            return true;
        }
        code = GetLastError();
        if (attempt == k_busy_attempts ||
            (code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION))
            break;
        Sleep(k_busy_pause_ms);
    }
    if (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        MoveFileExW(old.c_str(), wide.c_str(), MOVEFILE_WRITE_THROUGH);
    DeleteFileW(tmp.c_str());
    return win32_error(what, error, code);
}

bool is_system_hosts_file(const std::string &path) {
    return same_path(full_path(to_wide(path)), full_path(to_wide(system_hosts_path())));
}

std::string resolver_folder_elsewhere(const std::string &path) {
    const std::wstring folder = resolver_folder();
    std::wstring file_folder = full_path(to_wide(path));
    const std::size_t slash = file_folder.find_last_of(L"\\/");
    // The root folder keeps its backslash: "C:" alone is C:'s current folder.
    file_folder.resize(slash == std::wstring::npos ? 0 : slash == 2 ? 3 : slash);
    if (folder.empty() || same_path(folder, full_path(file_folder)))
        return std::string();
    return to_text(folder);
}

bool refused_access(const std::string &error_text) {
    return error_text.ends_with(": " + system_text(ERROR_ACCESS_DENIED));
}

const char *elevation_hint() {
    return "hint: the system refused access; run qhosts from an elevated prompt (Run as "
           "administrator)";
}
