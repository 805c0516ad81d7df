// Flushes the resolver cache: the system library call first, the system
// command when the call is missing or fails, and a name service cache daemon
// where one runs. A system that runs no cache at all has nothing to flush.
#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "hosts_internal.h"
#include "platform.h"

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
    char text_[ERR_SIZE] = {};
    std::size_t used_ = 0;
};

}  // namespace

QH_EXPORT int QH_CALL hosts_flush_dns(void) noexcept {
    clear_err();
    const qh_platform *os = s_platform;
    unsigned long code = 0;
    resolver_result resolver = os->resolver_flush(&code);
    if (resolver == RESOLVER_LOAD_FAILED) {
        set_err("failed to load %s", os->resolver_library);
        return -1;
    }
    reasons why;
    bool flushed = resolver == RESOLVER_FLUSHED;
    bool failed = false;
    if (resolver == RESOLVER_MISSING)
        why.add("%s not found in %s", os->resolver_lookup, os->resolver_library);
    else if (resolver == RESOLVER_FAILED)
        why.add("%s failed: %s %lu", os->resolver_call, os->resolver_code_kind, code);

    int rc = 0;
    if (!flushed) {
        command_result command = os->run_fallback(&rc);
        if (command == COMMAND_RAN && rc == 0) {
            flushed = true;
        } else if (command == COMMAND_RAN || resolver != RESOLVER_NOT_RUNNING) {
            // A resolver runs (or its command does) and could not be flushed.
            failed = true;
            if (resolver == RESOLVER_NOT_RUNNING)
                why.add("%s is not running", os->resolver_service);
            if (command == COMMAND_RAN)
                why.add("%s failed: rc=%d", os->fallback_command, rc);
            else
                why.add("%s failed: command not found", os->fallback_command);
        }
    }
    if (os->flush_cache_daemon != nullptr && os->flush_cache_daemon(&rc) == COMMAND_RAN) {
        if (rc == 0) {
            flushed = true;
        } else {
            failed = true;
            why.add("%s failed: rc=%d", os->cache_daemon_command, rc);
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
