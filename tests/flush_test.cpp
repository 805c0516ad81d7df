#include <string>

#include "hosts_internal.h"
#include "platform.h"
#include "support/test_support.h"

namespace {

qh_platform fake;
resolver_result resolver_answer;
int fallback_answer;
int fallback_runs;

resolver_result fake_resolver(unsigned long *code) {
    *code = 1460;
    return resolver_answer;
}

int fake_fallback() {
    ++fallback_runs;
    return fallback_answer;
}

std::string native_message(const char *format, const char *a, const char *b = "") {
    char text[512];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

}  // namespace

using FlushTest = HostsTest;

TEST_F(FlushTest, EveryOutcome) {
    const qh_platform &os = native_platform;
    const std::string missing = native_message("%s not found in %s", os.resolver_lookup, os.resolver_library);
    const std::string failed = native_message("%s failed: %s 1460", os.resolver_call, os.resolver_code_kind);
    const std::string fallback_failed = native_message("%s failed: rc=%s", os.fallback_command, "9009");
    const struct {
        resolver_result resolver;
        int fallback;
        int result;
        int runs;
        std::string error;
    } rows[] = {
        {RESOLVER_FLUSHED, 1, 1, 0, ""},
        {RESOLVER_MISSING, 0, 1, 1, missing},
        {RESOLVER_FAILED, 0, 1, 1, failed},
        {RESOLVER_MISSING, 9009, -1, 1, fallback_failed},
        {RESOLVER_FAILED, 9009, -1, 1, fallback_failed},
        {RESOLVER_LOAD_FAILED, 0, -1, 0, native_message("failed to load %s", os.resolver_library)},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.error);
        fake = native_platform;
        fake.resolver_flush = fake_resolver;
        fake.run_fallback = fake_fallback;
        s_platform = &fake;
        resolver_answer = row.resolver;
        fallback_answer = row.fallback;
        fallback_runs = 0;
        set_err("stale");

        EXPECT_EQ(hosts_flush_dns(), row.result);
        EXPECT_EQ(hosts_last_error(), row.error);
        EXPECT_EQ(fallback_runs, row.runs);
    }
}

#if defined(_WIN32)
TEST_F(FlushTest, WindowsNamesInMessages) {
    EXPECT_STREQ(native_platform.resolver_library, "dnsapi.dll");
    fake = native_platform;
    fake.resolver_flush = fake_resolver;
    fake.run_fallback = fake_fallback;
    s_platform = &fake;
    resolver_answer = RESOLVER_FAILED;
    fallback_answer = 0;
    EXPECT_EQ(hosts_flush_dns(), 1);
    EXPECT_STREQ(hosts_last_error(), "DnsFlushResolverCache failed: Win32 error 1460");
    resolver_answer = RESOLVER_MISSING;
    fallback_answer = 1;
    EXPECT_EQ(hosts_flush_dns(), -1);
    EXPECT_STREQ(hosts_last_error(), "ipconfig /flushdns failed: rc=1");
}

// The real resolver of the system at hand: whatever it answers, the result
// and the message must form one of the documented outcomes.
TEST_F(FlushTest, RealFlushGivesADocumentedOutcome) {
    int result = hosts_flush_dns();
    std::string error = hosts_last_error();
    const bool documented =
        (result == 1 && (error.empty() || error == "DnsFlushResolverCache not found in dnsapi.dll" ||
                         error.rfind("DnsFlushResolverCache failed: Win32 error ", 0) == 0)) ||
        (result == -1 && (error == "failed to load dnsapi.dll" ||
                          error.rfind("ipconfig /flushdns failed: rc=", 0) == 0));
    EXPECT_TRUE(documented) << result << " " << error;
    RecordProperty("flush", std::to_string(result) + " " + error);
}
#endif
