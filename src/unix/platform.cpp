// The POSIX layer's tables: /etc/hosts, rename(2) as the one-step replace,
// systemd-resolved for the resolver cache.
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "internal.h"
#include "save_lock.h"

const qh_system native_system = {
    .default_path = platform::default_path,
    .resolve_target = platform::resolve_target,
    .create_temp = platform::create_temp,
    .open_current = platform::open_current,
    .probe = platform::probe,
    .flush_folder = platform::flush_folder,
    .clock_ms = platform::clock_ms,
    .sleep_ms = platform::sleep_ms,
    .resolver_flush = platform::resolver_flush,
    .run_fallback = platform::run_fallback,
    .flush_cache_daemon = platform::flush_cache_daemon,
};

const qh_file_methods native_file_methods = {
    .write_all = platform::write_all,
    .sync = platform::sync,
    .read_some = platform::read_some,
    .replace = platform::replace,
    .discard = platform::discard,
    .close = platform::close,
};

const os_calls native_os_calls = {
    .reserve = [](int fd, off_t size) { return ::posix_fallocate(fd, 0, size); },
    .write_at = ::pwrite,
    .set_xattr = [](int fd, const char *name, const void *value,
                    std::size_t size) { return ::fsetxattr(fd, name, value, size, 0); },
};
