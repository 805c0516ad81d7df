// Flushes the resolver cache: the system library call first, the system
// command when the call is missing or fails.
#include "hosts_internal.h"
#include "platform.h"

QH_EXPORT int QH_CALL hosts_flush_dns(void) noexcept {
    clear_err();
    const qh_platform *os = s_platform;
    unsigned long code = 0;
    switch (os->resolver_flush(&code)) {
    case RESOLVER_LOAD_FAILED:
        set_err("failed to load %s", os->resolver_library);
        return -1;
    case RESOLVER_FLUSHED:
        return 1;
    case RESOLVER_MISSING:
        set_err("%s not found in %s", os->resolver_lookup, os->resolver_library);
        break;
    case RESOLVER_FAILED:
        set_err("%s failed: %s %lu", os->resolver_call, os->resolver_code_kind, code);
        break;
    }
    int rc = os->run_fallback();
    if (rc == 0)
        return 1;
    set_err("%s failed: rc=%d", os->fallback_command, rc);
    return -1;
}
