// The flush of the resolver cache, and the names its messages give this
// system's resolver and its commands. Each platform layer defines the names
// beside the code they name (resolver.cpp on each side).
#ifndef QUENDRAL_HOSTS_FLUSH_H
#define QUENDRAL_HOSTS_FLUSH_H

#include "platform.h"

struct flush_wording {
    const char *resolver_library;
    const char *resolver_lookup;
    const char *resolver_call;
    const char *resolver_code_kind;
    const char *resolver_service;
    const char *fallback_command;
    const char *cache_daemon_command;  // null where there is no such daemon
};

extern const flush_wording native_flush_wording;

// hosts_flush_dns with the system steps of `os` and the names of `words`.
int flush_resolver_cache(const qh_system *os, const flush_wording &words) noexcept;

#endif
