// Behaviour of the Windows platform layer, run under wine.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "helpers/stress_content.h"
#include "hooks.h"
#include "hosts_internal.h"
#include "last_load.h"
#include "support/os_support.h"
#include "support/test_support.h"
#include "win/internal.h"

using WindowsTest = HostsTest;

namespace {

void expect_save_refused(const std::string &hosts, const std::string &old_bytes) {
    ASSERT_EQ(hosts_add("1.2.3.4", "new", nullptr), 0);
    EXPECT_EQ(hosts_save(), -1);
    std::string prefix = "rename " + hosts + ".tmp -> " + hosts + " failed: ";
    EXPECT_EQ(std::string(hosts_last_error()).rfind(prefix, 0), 0u) << hosts_last_error();
    EXPECT_FALSE(fs::exists(hosts + ".tmp"));
    EXPECT_EQ(read_bytes(hosts), old_bytes);
}

// Wine answers to this export of ntdll; Windows has no such export.
bool under_wine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

std::wstring wide(const std::string &text, UINT code_page = CP_ACP) {
    wchar_t room[platform::k_wide_path_size];
    int len = MultiByteToWideChar(code_page, 0, text.c_str(), -1, room, platform::k_wide_path_size);
    return len > 0 ? std::wstring(room) : std::wstring();
}

std::string read_wide(const std::wstring &path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "cannot open";
    std::string bytes(1 << 16, '\0');
    DWORD got = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(file);
    bytes.resize(got);
    return bytes;
}

// The owner, group and DACL of the file at `path`, as SDDL text.
std::string security_of(const std::wstring &path) {
    HANDLE file = CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "cannot open";
    const SECURITY_INFORMATION parts =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD rc = GetSecurityInfo(file, SE_FILE_OBJECT, parts, nullptr, nullptr, nullptr, nullptr,
                               &descriptor);
    CloseHandle(file);
    char *text = nullptr;
    if (rc != ERROR_SUCCESS || !ConvertSecurityDescriptorToStringSecurityDescriptorA(
                                   descriptor, SDDL_REVISION_1, parts, &text, nullptr))
        return "cannot read";
    std::string sddl = text;
    LocalFree(text);
    LocalFree(descriptor);
    return sddl;
}

// Sets the DACL of `path` by the low-level call, which wine maps to the Unix
// permission bits (its SetSecurityInfo leaves a file as it is).
bool set_dacl(const std::string &path, const std::string &sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    BOOL set = SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return set != 0;
}

std::string user_sid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return "";
    alignas(TOKEN_USER) unsigned char room[256];
    DWORD size = 0;
    char *text = nullptr;
    std::string sid;
    if (GetTokenInformation(token, TokenUser, room, sizeof room, &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER *>(room)->User.Sid, &text)) {
        sid = text;
        LocalFree(text);
    }
    CloseHandle(token);
    return sid;
}

bool elevated() {
    HANDLE token = nullptr;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const bool got =
        OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    if (token != nullptr)
        CloseHandle(token);
    return got && elevation.TokenIsElevated != 0;
}

std::string system_text(DWORD code) {
    sys_error err;
    platform::describe(code, &err);
    return err.text;
}

}  // namespace

// The default follows the system folder, but reads as the documented
// constant on a standard installation, whatever the case of the letters.
TEST_F(WindowsTest, DefaultPathComesFromTheSystemFolder) {
    const std::string standard_default = "C:\\Windows\\System32\\drivers\\etc\\hosts";
    const struct {
        const char *system_dir;
        std::string path;
    } cases[] = {
        {"C:\\Windows\\System32", standard_default},
        {"c:\\windows\\system32", standard_default},
        {"D:\\Windows\\System32", /* default */ "D:\\Windows\\System32\\drivers\\etc\\hosts"},
        {"C:\\WINNT\\System32", /* default */ "C:\\WINNT\\System32\\drivers\\etc\\hosts"},
        {"", standard_default},
    };
    for (const auto &c : cases) {
        char room[k_path_size];
        EXPECT_EQ(platform::hosts_path_in(c.system_dir, room, sizeof room), c.path) << c.system_dir;
    }
    char small[8];
    EXPECT_EQ(platform::hosts_path_in("E:\\Windows\\System32", small, sizeof small),
              standard_default);

    char system_dir[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryA(system_dir, sizeof system_dir), 0u);
    char room[k_path_size];
    const std::string expected = platform::hosts_path_in(system_dir, room, sizeof room);
    ASSERT_EQ(hosts_set_path(nullptr), 1);
    EXPECT_EQ(path_in_use(), expected) << system_dir;
}

// A folder, a device or a pipe is neither replaced (saved to before any
// load) nor read; reading a pipe would wait for its writer.
TEST_F(WindowsTest, SpecialFilesAreNeitherReadNorReplaced) {
    const std::string pipe = "\\\\.\\pipe\\qh-test-" + std::to_string(std::random_device()());
    HANDLE server = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 4, 4096,
                                     4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(fs::create_directory(hosts));
    for (const std::string &path : {hosts, std::string("NUL")}) {
        SCOPED_TRACE(path);
        ASSERT_EQ(hosts_set_path(path.c_str()), 1);
        ASSERT_GE(hosts_add("1.2.3.4", "new", nullptr), 0);
        EXPECT_EQ(hosts_save(), -1);
        EXPECT_EQ(hosts_last_error(), "not replacing " + path + ": not a regular file");
    }
    for (const std::string &path : {hosts, std::string("NUL"), pipe}) {
        SCOPED_TRACE(path);
        ASSERT_EQ(hosts_set_path(path.c_str()), 1);
        ASSERT_GE(hosts_add("9.9.9.9", "loaded.before", nullptr), 0);
        EXPECT_EQ(hosts_load(), -1);
        EXPECT_EQ(hosts_last_error(), "cannot open " + path + ": not a regular file");
        EXPECT_EQ(hosts_count(), 0);
    }
    EXPECT_TRUE(fs::is_directory(hosts));
    EXPECT_FALSE(fs::exists(hosts + ".tmp"));
    CloseHandle(server);
}

TEST_F(WindowsTest, FileOpenElsewhereIsNotReplaced) {
    write_bytes(hosts, "1.1.1.1 old\n");
    HANDLE other = CreateFileA(hosts.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    expect_save_refused(hosts, "1.1.1.1 old\n");
    CloseHandle(other);
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    EXPECT_EQ(read_bytes(hosts), "1.2.3.4 new\n");
}

TEST_F(WindowsTest, ReadOnlyFileIsNotReplaced) {
    write_bytes(hosts, "1.1.1.1 old\n");
    ASSERT_TRUE(SetFileAttributesA(hosts.c_str(), FILE_ATTRIBUTE_READONLY));
    expect_save_refused(hosts, "1.1.1.1 old\n");
    SetFileAttributesA(hosts.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A symbolic link stays a link; the save replaces the file it leads to.
TEST_F(WindowsTest, SymlinkedFileKeepsItsLink) {
    const std::string real = dir.file("real");
    ASSERT_TRUE(fs::create_directory(real));
    const std::string target = real + "\\hosts";
    write_bytes(target, "1.1.1.1 old\n");
    // Wine 8 answers TRUE without making a link.
    if (!CreateSymbolicLinkA(hosts.c_str(), target.c_str(), 0) ||
        GetFileAttributesA(hosts.c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "this system makes no symbolic links";
    ASSERT_EQ(hosts_load(), 1) << hosts_last_error();
    ASSERT_EQ(hosts_add("2.2.2.2", "new", nullptr), 1);
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    EXPECT_TRUE(GetFileAttributesA(hosts.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(read_bytes(target), "1.1.1.1 old\n2.2.2.2 new\n");
    EXPECT_FALSE(fs::exists(target + ".tmp"));
    EXPECT_FALSE(fs::exists(hosts + ".tmp"));
}

// A virus scanner or the search indexer holds the hosts file open for a
// moment: the save waits for it, up to about a second. Another process
// holds the file; the test releases it 300 ms into the save, or never.
TEST_F(WindowsTest, FileHeldForAMomentSavesOnceReleased) {
    write_bytes(hosts, "1.1.1.1 old\n");
    ASSERT_EQ(hosts_load(), 1);
    ASSERT_GE(hosts_add("2.2.2.2", "new", nullptr), 0);
    // One save with nobody holding the file: the unit of this run's speed.
    long long start = now_ms();
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    const long long save_ms = now_ms() - start;
    ASSERT_GE(hosts_add("3.3.3.3", "newer", nullptr), 0);

    for (int release_ms : {300, -1}) {
        SCOPED_TRACE(release_ms < 0 ? "held throughout" : "released after 300 ms");
        const std::string ready = dir.file("ready"), release = dir.file("release");
        std::remove(ready.c_str());
        std::remove(release.c_str());
        const std::string before = read_bytes(hosts);
        child_process *holder =
            start_child(program_file("qh_save_worker"), {"hold", hosts, ready, release});
        ASSERT_NE(holder, nullptr);
        wait_for_file(ready);
        if (HasFatalFailure()) {
            kill_child(holder);
            wait_child(holder);
            return;
        }
        std::thread releaser([&] {
            if (release_ms >= 0) {
                sleep_ms(release_ms);
                write_bytes(release, "1");
            }
        });
        start = now_ms();
        const int rc = hosts_save();
        const long long took = now_ms() - start;
        releaser.join();
        write_bytes(release, "1");
        wait_child(holder);
        if (release_ms >= 0) {
            EXPECT_EQ(rc, 1) << hosts_last_error();
            EXPECT_GE(took, release_ms);
            EXPECT_EQ(read_bytes(hosts), "1.1.1.1 old\n2.2.2.2 new\n3.3.3.3 newer\n");
        } else {
            EXPECT_EQ(rc, -1);
            std::string prefix = "rename " + hosts + ".tmp -> " + hosts + " failed: ";
            EXPECT_EQ(std::string(hosts_last_error()).rfind(prefix, 0), 0u) << hosts_last_error();
            EXPECT_GE(took, 1000);
            EXPECT_LT(took, 1500 + 5 * save_ms) << "one save alone took " << save_ms << " ms";
            EXPECT_EQ(read_bytes(hosts), before);
        }
        EXPECT_FALSE(fs::exists(hosts + ".tmp"));
    }
}

// Hidden, system, archive and not-content-indexed survive a save (wine keeps
// no not-content-indexed bit, so there it stays off before and after).
TEST_F(WindowsTest, SaveKeepsTheFileAttributes) {
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    for (DWORD attributes :
         {DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
          DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE},
          DWORD{FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_ARCHIVE},
          DWORD{FILE_ATTRIBUTE_ARCHIVE}}) {
        SCOPED_TRACE(attributes);
        SetFileAttributesA(hosts.c_str(), FILE_ATTRIBUTE_NORMAL);
        write_bytes(hosts, "1.1.1.1 old\n");
        ASSERT_TRUE(SetFileAttributesA(hosts.c_str(), attributes));
        const DWORD before = GetFileAttributesA(hosts.c_str()) & kept;
        ASSERT_EQ(hosts_load(), 1) << hosts_last_error();
        ASSERT_GE(hosts_add("2.2.2.2", "new", nullptr), 0);
        ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
        EXPECT_EQ(GetFileAttributesA(hosts.c_str()) & kept, before);
        EXPECT_EQ(read_bytes(hosts), "1.1.1.1 old\n2.2.2.2 new\n");
    }
}

// Who may read and write the file stays as it was: a protected DACL that
// leaves everyone else out, and one of entries of its own beside those the
// folder passes on. Under wine the DACL that GetSecurityInfo reports is
// wine's reading of the Unix permission bits, which is what a save must not
// widen (before, a save gave back rw-r--r--).
TEST_F(WindowsTest, SaveKeepsTheFileSecurity) {
    const std::string me = user_sid();
    ASSERT_FALSE(me.empty());
    const std::string dacls[] = {
        "D:P(A;;FA;;;SY)(A;;FA;;;" + me + ")",
        "D:(A;;FA;;;" + me + ")(A;;FR;;;BG)",
    };
    for (const std::string &dacl : dacls) {
        SCOPED_TRACE(dacl);
        write_bytes(hosts, "1.1.1.1 old\n");
        ASSERT_TRUE(set_dacl(hosts, dacl)) << GetLastError();
        const std::string before = security_of(wide(hosts));
        ASSERT_EQ(hosts_load(), 1) << hosts_last_error();
        ASSERT_GE(hosts_add("2.2.2.2", "new", nullptr), 0);
        ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
        EXPECT_EQ(security_of(wide(hosts)), before);
        EXPECT_EQ(read_bytes(hosts), "1.1.1.1 old\n2.2.2.2 new\n");
        ASSERT_TRUE(set_dacl(hosts, "D:(A;;FA;;;" + me + ")"));
    }
}

// A file whose security cannot be read is not replaced: the new one would
// have other rights.
TEST_F(WindowsTest, SecurityThatCannotBeReadStopsTheSave) {
    load_text("1.1.1.1 old\n");
    ASSERT_GE(hosts_add("2.2.2.2", "new", nullptr), 0);
    os_calls refusing = native_os_calls;
    refusing.get_security_info = [](HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID *, PSID *,
                                    PACL *, PACL *, PSECURITY_DESCRIPTOR *) -> DWORD WINAPI {
        return ERROR_ACCESS_DENIED;
    };
    s_hooks.os = &refusing;
    EXPECT_EQ(hosts_save(), -1);
    EXPECT_EQ(hosts_last_error(), "cannot open " + hosts +
                                      ".tmp for writing: cannot copy the security of the file it "
                                      "replaces: " +
                                      system_text(ERROR_ACCESS_DENIED));
    EXPECT_EQ(read_bytes(hosts), "1.1.1.1 old\n");
    EXPECT_FALSE(fs::exists(hosts + ".tmp"));
}

// A host that switched the file APIs to the OEM code page reads and writes
// the same file: the name is converted once, the way CreateFileA reads it.
TEST_F(WindowsTest, SaveWritesTheFileTheLoadReadUnderTheOemCodePage) {
    const std::string name = dir.file("h\xE9");
    const std::wstring as_oem = wide(name, CP_OEMCP), as_ansi = wide(name, CP_ACP);
    if (as_oem == as_ansi)
        GTEST_SKIP() << "the ANSI and OEM code pages read this name alike here";
    struct back_to_ansi {
        ~back_to_ansi() { SetFileApisToANSI(); }
    } restore;
    SetFileApisToOEM();
    HANDLE file = CreateFileW(as_oem.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "1.1.1.1 old\n", 12, &written, nullptr));
    CloseHandle(file);
    ASSERT_EQ(hosts_set_path(name.c_str()), 1);
    ASSERT_EQ(hosts_load(), 1) << hosts_last_error();
    ASSERT_EQ(hosts_count(), 1);
    ASSERT_GE(hosts_add("2.2.2.2", "new", nullptr), 0);
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    EXPECT_EQ(read_wide(as_oem), "1.1.1.1 old\n2.2.2.2 new\n");
    EXPECT_EQ(GetFileAttributesW(as_ansi.c_str()), INVALID_FILE_ATTRIBUTES) << "a second file";
}

// The forms of a path that the library takes: the load and the save of each
// work on the same file. A \\.\ path is a local one, not a network share.
TEST_F(WindowsTest, PathFormsLoadAndSaveTheSameFile) {
    const std::string forms[] = {
        hosts,
        "\\\\.\\" + hosts,
        "\\\\?\\" + hosts,
        dir.file(".\\sub\\..\\hosts"),
    };
    for (const std::string &form : forms) {
        SCOPED_TRACE(form);
        write_bytes(hosts, "1.1.1.1 old\n");
        ASSERT_EQ(hosts_set_path(form.c_str()), 1);
        ASSERT_EQ(hosts_load(), 1) << hosts_last_error();
        ASSERT_GE(hosts_add("2.2.2.2", "new", nullptr), 0);
        ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
        EXPECT_EQ(read_bytes(hosts), "1.1.1.1 old\n2.2.2.2 new\n");
        EXPECT_FALSE(fs::exists(hosts + ".tmp"));
    }
}

// Paths past MAX_PATH, up to the library's own limit, load and save. The
// folders are real as deep as the system makes them: all the way on
// Windows; under wine the Unix path stops at 4096 bytes, and the rest of the
// length is ".\" steps that name the same folder.
TEST_F(WindowsTest, LongPathsLoadAndSave) {
    for (std::size_t length : {std::size_t{300}, std::size_t{8000}}) {
        SCOPED_TRACE(length);
        std::string folder = dir.path().string();
        for (int depth = 0; folder.size() + std::string("\\x\\hosts").size() <= length; ++depth) {
            const std::size_t room = length - folder.size() - std::string("\\\\hosts").size();
            const std::string deeper =
                folder + "\\" +
                std::string(room > 200 ? 100 : room, static_cast<char>('a' + depth % 26));
            if (!CreateDirectoryW(wide("\\\\?\\" + deeper).c_str(), nullptr) &&
                GetLastError() != ERROR_ALREADY_EXISTS)
                break;
            folder = deeper;
        }
        const std::string real = folder + "\\hosts";
        // ".\" steps to the length; an odd one out is a doubled backslash.
        const std::size_t steps = (length - real.size()) / 2;
        std::string path = folder + ((length - real.size()) % 2 ? "\\" : "");
        for (std::size_t i = 0; i < steps; ++i)
            path += "\\.";
        path += "\\hosts";
        ASSERT_EQ(path.size(), length);
        HANDLE file = CreateFileW(wide("\\\\?\\" + real).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file, "1.1.1.1 old\n", 12, &written, nullptr));
        CloseHandle(file);

        ASSERT_EQ(hosts_set_path(path.c_str()), 1);
        ASSERT_EQ(hosts_load(), 1) << hosts_last_error();
        ASSERT_EQ(hosts_count(), 1);
        ASSERT_GE(hosts_add("2.2.2.2", "new", nullptr), 0);
        ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
        EXPECT_EQ(read_wide(wide("\\\\?\\" + real)), "1.1.1.1 old\n2.2.2.2 new\n");
        EXPECT_EQ(GetFileAttributesW(wide("\\\\?\\" + real + ".tmp").c_str()),
                  INVALID_FILE_ATTRIBUTES);
    }
}

namespace {

BOOL WINAPI failing_flush(HANDLE) {
    SetLastError(ERROR_IO_DEVICE);
    return FALSE;
}

}  // namespace

// The rename is done but its flush fails: the new file is in place and
// remembered as saved, but the save says it may not survive a crash.
TEST_F(WindowsTest, FailedFlushAfterTheReplaceFailsTheSave) {
    load_text("1.1.1.1 old\n");
    ASSERT_GE(hosts_add("2.2.2.2", "new", nullptr), 0);
    os_calls failing = native_os_calls;
    failing.flush_file_buffers = failing_flush;
    s_hooks.os = &failing;
    const int rc = hosts_save();
    restore_native_hooks();

    sys_error reason{};
    platform::describe(ERROR_IO_DEVICE, &reason);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(hosts_last_error(), hosts + " was replaced but flushing it to disk failed: " +
                                      reason.text + "; the change may not survive a crash");
    EXPECT_EQ(read_bytes(hosts), "1.1.1.1 old\n2.2.2.2 new\n");
    EXPECT_FALSE(fs::exists(hosts + ".tmp"));
    ASSERT_GE(hosts_add("3.3.3.3", "next", nullptr), 0);
    EXPECT_EQ(hosts_save(), 1) << hosts_last_error();
}

// Another process saves over and over while this one loads: no load fails,
// though each save holds the file for a moment. The run lasts about a
// hundred of this machine's saves.
TEST_F(WindowsTest, LoadsDuringSavesNeverFail) {
    write_bytes(hosts, stress_start_file());
    long long start = now_ms();
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(hosts_load(), 1) << hosts_last_error();
        ASSERT_GE(hosts_add("10.9.9.9", "measure.test", nullptr), 0);
        ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    }
    const long long save_ms = (now_ms() - start) / 3 + 1;
    const long long run_ms = std::min(std::max(100 * save_ms, 2000LL), 6000LL);
    write_bytes(hosts, stress_start_file());
    forget_load();

    const std::string go = dir.file("go"), stop = dir.file("stop"), result = dir.file("saver");
    child_process *saver =
        start_child(program_file("qh_save_worker"), {"save", hosts, "0", go, stop, result});
    ASSERT_NE(saver, nullptr);
    wait_for_file(result + ".started");
    if (HasFatalFailure()) {
        kill_child(saver);
        wait_child(saver);
        return;
    }
    write_bytes(go, "1");
    int loads = 0, failed = 0;
    std::string first_failure;
    start = now_ms();
    while (now_ms() - start < run_ms) {
        ++loads;
        if (hosts_load() != 1) {
            ++failed;
            if (first_failure.empty())
                first_failure = hosts_last_error();
        }
    }
    write_bytes(stop, "1");
    wait_child(saver);
    int saves = 0, saved = 0;
    std::ifstream lines(result);
    for (std::string line; std::getline(lines, line);) {
        int round = 0, rc = 0;
        std::istringstream(line) >> round >> rc;
        ++saves;
        saved += rc == 1;
    }
    std::printf("%lld ms: %d loads, %d failed; %d saves beside them, %d saved\n", run_ms, loads,
                failed, saves, saved);
    RecordProperty("failed_loads", failed);
    EXPECT_EQ(failed, 0) << "first failure: " << first_failure;
    EXPECT_GT(saved, 0) << "no save ran beside the loads: nothing was tested";
}

namespace {

DWORD rename_refusal;

// Refuses the rename that puts the temporary file in place, as a scanner
// that guards the file does after the exclusive probe has passed.
BOOL WINAPI refusing_rename(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void *info, DWORD size) {
    if (kind == FileRenameInfo) {
        SetLastError(rename_refusal);
        return FALSE;
    }
    return SetFileInformationByHandle(file, kind, info, size);
}

}  // namespace

namespace {

bool exists_as_anything(const std::string &path) {
    HANDLE seen = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (seen == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(seen);
    return true;
}

// Runs `program` of the host system on `path` (as wine names it there) and
// waits, up to 30 s, until `path` exists or not as `exists` says; false
// where there is no host system to ask. The Windows calls would open a
// FIFO, and wait for its writer, to remove it.
bool on_host(const char *program, const std::string &path, bool exists) {
    using unix_name_fn = char *(CDECL *)(const WCHAR *);
    auto unix_name = reinterpret_cast<unix_name_fn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (unix_name == nullptr)
        return false;
    std::wstring wide(path.begin(), path.end());
    char *unix_path = unix_name(wide.c_str());
    if (unix_path == nullptr)
        return false;
    std::string command = std::string(program) + " \"" + unix_path + "\"";
    HeapFree(GetProcessHeap(), 0, unix_path);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const long long give_up = now_ms() + 30000;
    while (exists_as_anything(path) != exists && now_ms() < give_up)
        sleep_ms(10);
    return exists_as_anything(path) == exists;
}

}  // namespace

// A refusal after the probe says who refused; a file held open reads as one.
TEST_F(WindowsTest, RefusedReplaceNamesTheProgramThatRefused) {
    const std::string av = "; another program, often an antivirus scanner, refused the change";
    const struct {
        DWORD code;
        std::string tail;
    } cases[] = {
        {ERROR_ACCESS_DENIED, system_text(ERROR_ACCESS_DENIED) + av},
        {225 /* ERROR_VIRUS_INFECTED */, system_text(225) + av},
        {ERROR_SHARING_VIOLATION, system_text(ERROR_SHARING_VIOLATION)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        load_text("1.1.1.1 old\n");
        ASSERT_GE(hosts_add("2.2.2.2", "new", nullptr), 0);
        rename_refusal = c.code;
        os_calls refusing = native_os_calls;
        refusing.set_file_information = refusing_rename;
        s_hooks.os = &refusing;
        EXPECT_EQ(hosts_save(), -1);
        restore_native_hooks();
        EXPECT_EQ(hosts_last_error(),
                  "rename " + hosts + ".tmp -> " + hosts + " failed: " + c.tail);
        EXPECT_EQ(read_bytes(hosts), "1.1.1.1 old\n");
        EXPECT_FALSE(fs::exists(hosts + ".tmp"));
    }
}

// Alternate data streams are not carried over: the new file holds what the
// load read and nothing else. Wine has no streams (it makes a file named
// "hosts:note" beside the hosts file instead).
TEST_F(WindowsTest, SaveLeavesNoAlternateStreams) {
    if (under_wine())
        GTEST_SKIP() << "wine has no alternate data streams";
    write_bytes(hosts, "1.1.1.1 old\n");
    write_bytes(hosts + ":note", "kept aside\n");
    ASSERT_EQ(read_bytes(hosts + ":note"), "kept aside\n");
    ASSERT_EQ(hosts_load(), 1) << hosts_last_error();
    ASSERT_GE(hosts_add("2.2.2.2", "new", nullptr), 0);
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    EXPECT_EQ(read_bytes(hosts), "1.1.1.1 old\n2.2.2.2 new\n");
    EXPECT_EQ(GetFileAttributesA((hosts + ":note").c_str()), INVALID_FILE_ATTRIBUTES);
}

// From an elevated prompt a new file belongs to Administrators; a save keeps
// the old file's owner (here the user's own account, which the token may
// give). Wine has one user and no elevation.
TEST_F(WindowsTest, SaveKeepsTheOwnerWhereItMay) {
    if (under_wine())
        GTEST_SKIP() << "wine has no owners beside its one user, and no elevation";
    if (!elevated())
        GTEST_SKIP()
            << "not elevated: a new file belongs to the user anyway, so this shows nothing";
    const std::string me = user_sid();
    write_bytes(hosts, "1.1.1.1 old\n");
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        ("O:" + me).c_str(), SDDL_REVISION_1, &descriptor, nullptr));
    const bool set = SetFileSecurityA(hosts.c_str(), OWNER_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    ASSERT_TRUE(set) << GetLastError();
    const std::string before = security_of(wide(hosts));
    ASSERT_EQ(before.rfind("O:" + me, 0), 0u) << before;
    ASSERT_EQ(hosts_load(), 1) << hosts_last_error();
    ASSERT_GE(hosts_add("2.2.2.2", "new", nullptr), 0);
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    EXPECT_EQ(security_of(wide(hosts)), before);
}

// Without the right to create files in the folder, the save fails with the
// system's refusal, which the front ends turn into a hint to run elevated.
// Wine decides access by the Unix permissions, which root passes.
TEST_F(WindowsTest, SaveRefusedForAccessSaysSo) {
    if (under_wine())
        GTEST_SKIP() << "wine decides access by Unix permissions, which root passes";
    const std::string folder = dir.file("locked");
    ASSERT_TRUE(fs::create_directory(folder));
    const std::string locked_hosts = folder + "\\hosts";
    write_bytes(locked_hosts, "1.1.1.1 old\n");
    ASSERT_TRUE(set_dacl(folder, "D:P(A;OICI;GRGX;;;" + user_sid() + ")"));
    ASSERT_EQ(hosts_set_path(locked_hosts.c_str()), 1);
    ASSERT_EQ(hosts_load(), 1) << hosts_last_error();
    ASSERT_GE(hosts_add("2.2.2.2", "new", nullptr), 0);
    EXPECT_EQ(hosts_save(), -1);
    const std::string error = hosts_last_error();
    set_dacl(folder, "D:(A;OICI;FA;;;" + user_sid() + ")");
    EXPECT_EQ(error, "cannot open " + locked_hosts +
                         ".tmp for writing: " + system_text(ERROR_ACCESS_DENIED));
    EXPECT_EQ(read_bytes(locked_hosts), "1.1.1.1 old\n");
}

// Whatever stands at PATH.tmp and cannot be renamed over makes the save fail
// at once with words that name it, never as if another save were at work.
TEST_F(WindowsTest, PlantedTemporaryFileThatCannotBeReplacedIsNamed) {
    const std::string tmp = hosts + ".tmp";
    const std::string prefix = "cannot open " + tmp + " for writing: " + tmp;
    const struct {
        const char *what;
        bool (*plant)(const std::string &tmp);
        std::string error;
    } cases[] = {
        {"folder", [](const std::string &t) { return CreateDirectoryA(t.c_str(), nullptr) != 0; },
         prefix + " is a directory"},
        {"read-only file",
         [](const std::string &t) {
             write_bytes(t, "planted\n");
             return SetFileAttributesA(t.c_str(), FILE_ATTRIBUTE_READONLY) != 0;
         },
         prefix + " is read-only"},
        {"FIFO made by the host system",
         [](const std::string &t) { return on_host("/usr/bin/mkfifo", t, true); },
         prefix + " is a pipe or a device"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        load_text("1.1.1.1 old\n");
        if (!c.plant(tmp)) {
            std::printf("cannot plant a %s here; case left out\n", c.what);
            continue;
        }
        ASSERT_GE(hosts_add("2.2.2.2", "new", nullptr), 0);
        const long long start = now_ms();
        EXPECT_EQ(hosts_save(), -1);
        const long long took = now_ms() - start;
        EXPECT_EQ(hosts_last_error(), c.error);
        EXPECT_LT(took, 1000) << "the save waited as if for another save";
        EXPECT_EQ(read_bytes(hosts), "1.1.1.1 old\n");
        SetFileAttributesA(tmp.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_TRUE(on_host("/bin/rm -rf", tmp, false));
    }
}
