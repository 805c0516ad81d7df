#include "flush.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "hooks.h"
#include "hosts_internal.h"
#include "support/test_support.h"

#if defined(_WIN32)
#include <windows.h>

#include "support/os_support.h"
#include "win/os_calls.h"
#endif

namespace {

qh_system fake;
flush_wording fake_words;
resolver_result resolver_answer;

// What a substitute step does when asked: run with an exit code, find
// nothing to run, or not exist on the system at all (a null table entry).
struct command_answer {
    bool exists;
    command_result ran;
    int rc;
};
const command_answer absent = {true, COMMAND_ABSENT, 0};
const command_answer no_such_step = {false, COMMAND_ABSENT, 0};
constexpr command_answer exits(int rc) {
    return {true, COMMAND_RAN, rc};
}
constexpr command_answer still_running_after(int ms) {
    return {true, COMMAND_TIMED_OUT, ms};
}

command_answer fallback_answer;
command_answer daemon_answer;
int fallback_runs;
int daemon_runs;

resolver_result fake_resolver(unsigned long *code) {
    *code = 1460;
    return resolver_answer;
}

command_result answer(const command_answer &given, int *runs, int *rc) {
    ++*runs;
    *rc = given.rc;
    return given.ran;
}

command_result fake_fallback(int *rc) {
    return answer(fallback_answer, &fallback_runs, rc);
}
command_result fake_daemon(int *rc) {
    return answer(daemon_answer, &daemon_runs, rc);
}

// The native names, with every system step replaced.
void use_fake_steps() {
    fake = native_system;
    fake.resolver_flush = fake_resolver;
    fake.run_fallback = fake_fallback;
    fake.flush_cache_daemon = fake_daemon;
    s_hooks.system = &fake;
}

void answer_with(resolver_result resolver, command_answer fallback, command_answer daemon) {
    resolver_answer = resolver;
    fallback_answer = fallback;
    daemon_answer = daemon;
    fallback_runs = daemon_runs = 0;
    set_err("stale");
}

}  // namespace

using FlushTest = HostsTest;

namespace {

// The real flush asks the system's resolver to drop its cache and may run
// the system's tools: only on request (QH_REAL_RESOLVER=1), on a machine
// whose resolver the run may touch.
bool real_resolver_wanted() {
    const char *wanted = std::getenv("QH_REAL_RESOLVER");
    return wanted != nullptr && std::string(wanted) == "1";
}

}  // namespace

// Every combination that leads somewhere different, with names of its own so
// that the texts read plainly.
TEST_F(FlushTest, EveryOutcome) {
    const struct {
        resolver_result resolver;
        command_answer fallback;
        command_answer daemon;
        int result;
        int fallback_runs;
        const char *error;
    } rows[] = {
        {RESOLVER_FLUSHED, exits(1), absent, 1, 0, ""},
        {RESOLVER_MISSING, exits(0), absent, 1, 1, "res_flush not found in libres"},
        {RESOLVER_FAILED, exits(0), absent, 1, 1, "Flush failed: code 1460"},
        {RESOLVER_MISSING, exits(9009), absent, -1, 1,
         "res_flush not found in libres; resctl flush failed: rc=9009"},
        {RESOLVER_FAILED, exits(9009), exits(0), -1, 1,
         "Flush failed: code 1460; resctl flush failed: rc=9009"},
        {RESOLVER_FAILED, absent, absent, -1, 1,
         "Flush failed: code 1460; resctl flush failed: command not found"},
        {RESOLVER_FAILED, still_running_after(250), absent, -1, 1,
         "Flush failed: code 1460; resctl flush failed: still running after 250 ms, left to "
         "finish"},
        {RESOLVER_NOT_RUNNING, still_running_after(10000), absent, -1, 1,
         "resolverd is not running; resctl flush failed: still running after 10000 ms, left to "
         "finish"},
        {RESOLVER_NOT_RUNNING, absent, absent, 1, 1,
         "no resolver cache is running; nothing to flush"},
        {RESOLVER_NOT_RUNNING, absent, no_such_step, 1, 1,
         "no resolver cache is running; nothing to flush"},
        {RESOLVER_NOT_RUNNING, absent, exits(0), 1, 1, ""},
        {RESOLVER_NOT_RUNNING, absent, exits(1), -1, 1, "cached -i hosts failed: rc=1"},
        {RESOLVER_NOT_RUNNING, exits(0), absent, 1, 1, ""},
        {RESOLVER_NOT_RUNNING, exits(1), absent, -1, 1,
         "resolverd is not running; resctl flush failed: rc=1"},
        {RESOLVER_FLUSHED, absent, exits(3), -1, 0, "cached -i hosts failed: rc=3"},
        {RESOLVER_LOAD_FAILED, exits(0), exits(0), -1, 0, "failed to load libres"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.error);
        use_fake_steps();
        fake_words = {
            .resolver_library = "libres",
            .resolver_lookup = "res_flush",
            .resolver_call = "Flush",
            .resolver_code_kind = "code",
            .resolver_service = "resolverd",
            .fallback_command = "resctl flush",
            .cache_daemon_command = "cached -i hosts",
        };
        if (!row.daemon.exists)
            fake.flush_cache_daemon = nullptr;
        answer_with(row.resolver, row.fallback, row.daemon);

        EXPECT_EQ(flush_resolver_cache(&fake, fake_words), row.result);
        EXPECT_STREQ(hosts_last_error(), row.error);
        EXPECT_EQ(fallback_runs, row.fallback_runs);
        EXPECT_EQ(daemon_runs, row.resolver != RESOLVER_LOAD_FAILED && row.daemon.exists ? 1 : 0);
    }
}

#if defined(_WIN32)
TEST_F(FlushTest, WindowsNamesInMessages) {
    EXPECT_STREQ(native_flush_wording.resolver_library, "dnsapi.dll");
    EXPECT_EQ(native_system.flush_cache_daemon, nullptr);
    use_fake_steps();
    answer_with(RESOLVER_FAILED, exits(0), absent);
    EXPECT_EQ(hosts_flush_dns(), 1);
    EXPECT_STREQ(hosts_last_error(), "DnsFlushResolverCache failed: Win32 error 1460");
    answer_with(RESOLVER_MISSING, exits(1), absent);
    EXPECT_EQ(hosts_flush_dns(), -1);
    EXPECT_STREQ(hosts_last_error(),
                 "DnsFlushResolverCache not found in dnsapi.dll; ipconfig /flushdns failed: rc=1");
}

namespace {

bool stand_in_program(wchar_t *room, std::size_t size) {
    const std::string program = program_file("qh_flush_stand_in");
    return MultiByteToWideChar(CP_ACP, 0, program.c_str(), -1, room, static_cast<int>(size)) > 0;
}

// Sets the variables the stand-in reads, and clears them again.
struct stand_in_settings {
    stand_in_settings(const std::vector<std::pair<const char *, std::string>> &values) {
        for (const auto &value : values) {
            SetEnvironmentVariableA(value.first, value.second.c_str());
            names.push_back(value.first);
        }
    }
    ~stand_in_settings() {
        for (const char *name : names)
            SetEnvironmentVariableA(name, nullptr);
    }
    std::vector<const char *> names;
};

}  // namespace

// The fallback program inherits none of the caller's handles, only its NUL
// output, and a program that never ends does not hold the flush: it gives
// up after its wait with a failure that says so. The stand-in's first run,
// which ends at once, measures how long a start takes on this machine.
TEST_F(FlushTest, FallbackProgramInheritsNothingAndIsWaitedForBoundedly) {
    use_fake_steps();
    answer_with(RESOLVER_MISSING, exits(0), absent);
    fake.run_fallback = native_system.run_fallback;
    os_calls stand_in = native_os_calls;
    stand_in.fallback_program = stand_in_program;
    s_hooks.os = &stand_in;

    const std::string marked = dir.file("inheritable-marker");
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE held = CreateFileA(marked.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                              CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    char handle_text[32];
    std::snprintf(handle_text, sizeof handle_text, "%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(held)));
    const std::string report = dir.file("report"), release = dir.file("release");

    stand_in.fallback_wait_ms = 60000;
    long long start = now_ms();
    {
        stand_in_settings settings({{"QH_STAND_IN_REPORT", report},
                                    {"QH_STAND_IN_HANDLE", handle_text},
                                    {"QH_STAND_IN_MARK", "inheritable-marker"},
                                    {"QH_STAND_IN_EXIT", "3"}});
        EXPECT_EQ(flush_resolver_cache(&fake, native_flush_wording), -1);
    }
    const long long start_ms = now_ms() - start;
    EXPECT_STREQ(hosts_last_error(),
                 "DnsFlushResolverCache not found in dnsapi.dll; ipconfig /flushdns failed: rc=3");
    EXPECT_EQ(read_bytes(report), "args=/flushdns\ninherited=0\noutput=char\n");

    std::remove(report.c_str());
    stand_in.fallback_wait_ms = static_cast<DWORD>(200 + 2 * start_ms);
    start = now_ms();
    {
        stand_in_settings settings({{"QH_STAND_IN_REPORT", report},
                                    {"QH_STAND_IN_HANDLE", handle_text},
                                    {"QH_STAND_IN_MARK", "inheritable-marker"},
                                    {"QH_STAND_IN_RELEASE", release}});
        EXPECT_EQ(flush_resolver_cache(&fake, native_flush_wording), -1);
    }
    const long long took = now_ms() - start;
    const std::string waited = std::to_string(stand_in.fallback_wait_ms);
    EXPECT_EQ(hosts_last_error(),
              "DnsFlushResolverCache not found in dnsapi.dll; ipconfig "
              "/flushdns failed: still running after " +
                  waited + " ms, left to finish");
    EXPECT_GE(took, static_cast<long long>(stand_in.fallback_wait_ms));
    EXPECT_LT(took, stand_in.fallback_wait_ms + 2 * start_ms + 1000)
        << "one run of the stand-in took " << start_ms << " ms";
    wait_for_file(report);
    write_bytes(release, "1");
    EXPECT_EQ(read_bytes(report), "args=/flushdns\ninherited=0\noutput=char\n");
    CloseHandle(held);
}

// The real resolver of the system at hand: whatever it answers, the result
// and the message must form one of the documented outcomes; dnsapi.dll is
// not left loaded by it.
TEST_F(FlushTest, RealFlushGivesADocumentedOutcome) {
    if (!real_resolver_wanted())
        GTEST_SKIP() << "flushes the system's resolver cache; set QH_REAL_RESOLVER=1 to run it";
    const bool loaded_before = GetModuleHandleA("dnsapi.dll") != nullptr;
    int result = hosts_flush_dns();
    std::string error = hosts_last_error();
    if (!loaded_before) {
        EXPECT_EQ(GetModuleHandleA("dnsapi.dll"), nullptr);
    }
    const bool documented =
        (result == 1 &&
         (error.empty() || error == "DnsFlushResolverCache not found in dnsapi.dll" ||
          error.rfind("DnsFlushResolverCache failed: Win32 error ", 0) == 0)) ||
        (result == -1 && (error == "failed to load dnsapi.dll" ||
                          error.find("ipconfig /flushdns failed: rc=") != std::string::npos));
    EXPECT_TRUE(documented) << result << " " << error;
    RecordProperty("flush", std::to_string(result) + " " + error);
}
#endif

#if !defined(_WIN32)
TEST_F(FlushTest, LinuxTexts) {
    use_fake_steps();
    const struct {
        resolver_result resolver;
        command_answer fallback;
        command_answer daemon;
        int result;
        const char *error;
    } rows[] = {
        {RESOLVER_NOT_RUNNING, absent, absent, 1, "no resolver cache is running; nothing to flush"},
        {RESOLVER_FAILED, exits(1), absent, -1,
         "FlushCaches failed: errno 1460; resolvectl flush-caches failed: rc=1"},
        {RESOLVER_NOT_RUNNING, exits(1), absent, -1,
         "systemd-resolved is not running; resolvectl flush-caches failed: rc=1"},
        {RESOLVER_MISSING, absent, absent, -1,
         "sd_bus_call_method not found in libsystemd.so.0; resolvectl flush-caches failed: "
         "command not found"},
        {RESOLVER_NOT_RUNNING, absent, exits(1), -1, "nscd -i hosts failed: rc=1"},
    };
    for (const auto &row : rows) {
        answer_with(row.resolver, row.fallback, row.daemon);
        EXPECT_EQ(hosts_flush_dns(), row.result);
        EXPECT_STREQ(hosts_last_error(), row.error);
    }
}

// The real resolver of the system at hand: whatever it answers, the result
// and the message must form one of the documented outcomes.
TEST_F(FlushTest, RealFlushGivesADocumentedOutcome) {
    if (!real_resolver_wanted())
        GTEST_SKIP() << "flushes the system's resolver cache; set QH_REAL_RESOLVER=1 to run it";
    int result = hosts_flush_dns();
    std::string error = hosts_last_error();
    auto starts = [&error](const char *prefix) { return error.rfind(prefix, 0) == 0; };
    const bool documented =
        (result == 1 &&
         (error.empty() || error == "no resolver cache is running; nothing to flush" ||
          starts("FlushCaches failed: errno ") ||
          error == "sd_bus_call_method not found in libsystemd.so.0")) ||
        (result == -1 && (error.find("resolvectl flush-caches failed: ") != std::string::npos ||
                          starts("nscd -i hosts failed: rc=")));
    EXPECT_TRUE(documented) << result << " " << error;
    RecordProperty("flush", std::to_string(result) + " " + error);
    std::printf("flush on this system: %d \"%s\"\n", result, error.c_str());
}
#endif
