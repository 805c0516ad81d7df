// The Windows layer's tables: the system hosts path, CreateFileW's exclusive
// probe, a rename through the open temporary file as the one-step replace,
// and dnsapi.dll / ipconfig.exe for the resolver cache.
#include "internal.h"
#include "save_lock.h"

const qh_system native_system = {
    .default_path = platform::default_path,
    .resolve_target = platform::resolve_target,
    .create_temp = platform::create_temp,
    .open_current = platform::open_current,
    .probe = platform::probe,
    .file_identity = platform::file_identity,
    .flush_folder = nullptr,  // the rename through the handle is flushed by the replace itself
    .clock_ms = platform::clock_ms,
    .sleep_ms = platform::sleep_ms,
    .resolver_flush = platform::resolver_flush,
    .run_fallback = platform::run_fallback,
    .flush_cache_daemon = nullptr,
};

const qh_file_methods native_file_methods = {
    .write_all = platform::write_all,
    .sync = platform::sync,
    .read_some = platform::read_some,
    .replace = platform::replace,
    .discard = platform::discard,
    .close = platform::close,
};

// ipconfig /flushdns ends within a second on a working system; ten give a
// loaded one room without letting a hung one hold the caller for long.
const os_calls native_os_calls = {
    .flush_file_buffers = FlushFileBuffers,
    .set_file_information = SetFileInformationByHandle,
    .get_security_info = GetSecurityInfo,
    .fallback_program = platform::system_ipconfig,
    .fallback_wait_ms = 10000,
};
