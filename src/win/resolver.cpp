// The resolver cache on Windows: DnsFlushResolverCache of dnsapi.dll, and
// ipconfig /flushdns as the fallback, both from the system directory.
#include "../flush.h"
#include "internal.h"

namespace platform {

namespace {

using flush_fn = BOOL(WINAPI *)(void);

}  // namespace

resolver_result resolver_flush(unsigned long *code) {
    HMODULE dnsapi = LoadLibraryExA("dnsapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (dnsapi == nullptr)
        return RESOLVER_LOAD_FAILED;
    FARPROC proc = GetProcAddress(dnsapi, "DnsFlushResolverCache");
    if (proc == nullptr)
        return RESOLVER_MISSING;
    auto flush = reinterpret_cast<flush_fn>(reinterpret_cast<void (*)(void)>(proc));
    if (flush())
        return RESOLVER_FLUSHED;
    *code = GetLastError();
    return RESOLVER_FAILED;
}

command_result run_fallback(int *rc) {
    *rc = run_ipconfig();
    return COMMAND_RAN;
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
