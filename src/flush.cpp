// Flushes the resolver cache: the system library call first, the system
// command when the call is missing or fails, and a name service cache daemon
// where one runs. A system that runs no cache at all has nothing to flush.
#include "flush.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "hooks.h"
#include "hosts_internal.h"

namespace {

// The reasons a flush did not work, joined by "; " in the order they arose.
class reasons {
public:
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    void
    add(const char *fmt, ...) {
        if (used_ > 0 && used_ + 2 < sizeof text_) {
            text_[used_++] = ';';
            text_[used_++] = ' ';
        }
        va_list args;
        va_start(args, fmt);
        int n = std::vsnprintf(text_ + used_, sizeof text_ - used_, fmt, args);
        va_end(args);
        if (n > 0)
            used_ = std::min(used_ + static_cast<std::size_t>(n), sizeof text_ - 1);
    }
    const char *text() const {
        return text_;
    }

private:
    char text_[k_err_size] = {};
    std::size_t used_ = 0;
};

}  // namespace

int flush_resolver_cache(const qh_system *os, const flush_wording &words) noexcept {
    clear_err();
    unsigned long code = 0;
    resolver_result resolver = os->resolver_flush(&code);
    if (resolver == RESOLVER_LOAD_FAILED) {
        set_err("failed to load %s", words.resolver_library);
        return -1;
    }
    reasons why;
    bool flushed = resolver == RESOLVER_FLUSHED;
    bool failed = false;
    if (resolver == RESOLVER_MISSING)
        why.add("%s not found in %s", words.resolver_lookup, words.resolver_library);
    else if (resolver == RESOLVER_FAILED)
        why.add("%s failed: %s %lu", words.resolver_call, words.resolver_code_kind, code);

    int rc = 0;
    if (!flushed) {
        command_result command = os->run_fallback(&rc);
        if (command == COMMAND_RAN && rc == 0) {
            flushed = true;
        } else if (command != COMMAND_ABSENT || resolver != RESOLVER_NOT_RUNNING) {
            // A resolver runs (or its command does) and could not be flushed.
            failed = true;
            if (resolver == RESOLVER_NOT_RUNNING)
                why.add("%s is not running", words.resolver_service);
            if (command == COMMAND_RAN)
                why.add("%s failed: rc=%d", words.fallback_command, rc);
            else if (command == COMMAND_TIMED_OUT)
                why.add("%s failed: still running after %d ms, left to finish",
                        words.fallback_command, rc);
            else
                why.add("%s failed: command not found", words.fallback_command);
        }
    }
    if (os->flush_cache_daemon != nullptr && os->flush_cache_daemon(&rc) == COMMAND_RAN) {
        if (rc == 0) {
            flushed = true;
        } else {
            failed = true;
            why.add("%s failed: rc=%d", words.cache_daemon_command, rc);
        }
    }

    if (failed) {
        set_err("%s", why.text());
        return -1;
    }
    if (!flushed)
        set_err("no resolver cache is running; nothing to flush");
    else
        set_err("%s", why.text());
    return 1;
}

QH_EXPORT int QH_CALL hosts_flush_dns(void) noexcept {
    return flush_resolver_cache(s_hooks.system, native_flush_wording);
}
