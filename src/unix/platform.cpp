// The POSIX layer's tables: /etc/hosts, rename(2) as the one-step replace,
// systemd-resolved for the resolver cache.
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include "internal.h"
#include "save_lock.h"

const qh_system native_system = {
    .default_path = platform::default_path,
    .resolve_target = platform::resolve_target,
    .create_temp = platform::create_temp,
    .open_current = platform::open_current,
    .probe = platform::probe,
    .file_identity = platform::file_identity,
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

namespace {

int reserve_keeping_size(int fd, off_t size) {
    return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) == 0 ? 0 : errno;
}

}  // namespace

const os_calls native_os_calls = {
    .reserve = reserve_keeping_size,
    .write_at = ::pwrite,
    .set_xattr = [](int fd, const char *name, const void *value,
                    std::size_t size) { return ::fsetxattr(fd, name, value, size, 0); },
    .sync_folder = ::fsync,
};
