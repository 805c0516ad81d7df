// The resolver cache on Windows: DnsFlushResolverCache of dnsapi.dll, and
// ipconfig /flushdns as the fallback, both from the system directory.
#include "../flush.h"
#include "internal.h"

namespace platform {

namespace {

using flush_fn = BOOL(WINAPI *)(void);

}  // namespace

// dnsapi.dll is loaded for the one call and freed again, so that a host
// that flushes now and then does not keep it mapped for good.
resolver_result resolver_flush(unsigned long *code) {
    HMODULE dnsapi = LoadLibraryExW(L"dnsapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (dnsapi == nullptr)
        return RESOLVER_LOAD_FAILED;
    resolver_result result = RESOLVER_MISSING;
    if (FARPROC proc = GetProcAddress(dnsapi, "DnsFlushResolverCache")) {
        auto flush = reinterpret_cast<flush_fn>(reinterpret_cast<void (*)(void)>(proc));
        result = flush() ? RESOLVER_FLUSHED : RESOLVER_FAILED;
        if (result == RESOLVER_FAILED)
            *code = GetLastError();
    }
    FreeLibrary(dnsapi);
    return result;
}

command_result run_fallback(int *rc) {
    return run_flush_program(rc);
}

}  // namespace platform

const flush_wording native_flush_wording = {
    .resolver_library = "dnsapi.dll",
    .resolver_lookup = "DnsFlushResolverCache",
    .resolver_call = "DnsFlushResolverCache",
    .resolver_code_kind = "Win32 error",
    .resolver_service = "the DNS Client service",
    .fallback_command = "ipconfig /flushdns",
    .cache_daemon_command = nullptr,
};
