#include "flush.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "hooks.h"
#include "hosts_internal.h"
#include "support/test_support.h"

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

// The real resolver of the system at hand: whatever it answers, the result
// and the message must form one of the documented outcomes.
TEST_F(FlushTest, RealFlushGivesADocumentedOutcome) {
    if (!real_resolver_wanted())
        GTEST_SKIP() << "flushes the system's resolver cache; set QH_REAL_RESOLVER=1 to run it";
    int result = hosts_flush_dns();
    std::string error = hosts_last_error();
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
