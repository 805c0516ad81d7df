/*
 * Keeps the Linux binaries loadable on glibc 2.17 and later when they are
 * built against a newer glibc. The link (see CMakeLists.txt) sends the calls
 * that newer glibc versions export under a new version through --wrap to the
 * functions here, which reach the same service through an interface that
 * glibc 2.17 has: the system call for stat, fstat and lstat (glibc 2.33 made
 * them exported functions), the older version of dlopen and dlsym (glibc 2.34
 * moved them into libc), and the older __libc_start_main for a program.
 * A program also carries the C++ runtime, whose few calls of newer glibc
 * versions are answered here from older interfaces.
 */
#if !defined(_GNU_SOURCE)
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <stdint.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#define QH_HIDDEN __attribute__((visibility("hidden")))

/* x86-64 kernels fill the same struct stat that glibc declares. */
QH_HIDDEN int __wrap_stat(const char *path, struct stat *st) {
    return (int)syscall(SYS_newfstatat, AT_FDCWD, path, st, 0);
}

QH_HIDDEN int __wrap_lstat(const char *path, struct stat *st) {
    return (int)syscall(SYS_newfstatat, AT_FDCWD, path, st, AT_SYMLINK_NOFOLLOW);
}

QH_HIDDEN int __wrap_fstat(int fd, struct stat *st) {
    return (int)syscall(SYS_fstat, fd, st);
}

#if defined(QH_COMPAT_DL)
void *qh_dlopen_2_2_5(const char *file, int mode);
void *qh_dlsym_2_2_5(void *handle, const char *name);
__asm__(".symver qh_dlopen_2_2_5, dlopen@GLIBC_2.2.5");
__asm__(".symver qh_dlsym_2_2_5, dlsym@GLIBC_2.2.5");

QH_HIDDEN void *__wrap_dlopen(const char *file, int mode) {
    return qh_dlopen_2_2_5(file, mode);
}

QH_HIDDEN void *__wrap_dlsym(void *handle, const char *name) {
    return qh_dlsym_2_2_5(handle, name);
}
#endif

#if defined(QH_COMPAT_START)
typedef int (*main_fn)(int, char **, char **);
typedef void (*init_fn)(int, char **, char **);

int qh_libc_start_main_2_2_5(main_fn main, int argc, char **argv, void (*init)(void),
                             void (*fini)(void), void (*rtld_fini)(void), void *stack_end);
__asm__(".symver qh_libc_start_main_2_2_5, __libc_start_main@GLIBC_2.2.5");

/* The program's constructors, run as the init function of older start
 * files did. Start files of glibc 2.34 and later pass none and leave the
 * constructors to __libc_start_main, which older versions do not do; every
 * version calls an init function that is passed. */
extern init_fn __preinit_array_start[] QH_HIDDEN;
extern init_fn __preinit_array_end[] QH_HIDDEN;
extern init_fn __init_array_start[] QH_HIDDEN;
extern init_fn __init_array_end[] QH_HIDDEN;
void _init(void);

static void run_constructors(int argc, char **argv, char **env) {
    for (init_fn *f = __preinit_array_start; f < __preinit_array_end; ++f)
        (*f)(argc, argv, env);
    _init();
    for (init_fn *f = __init_array_start; f < __init_array_end; ++f)
        (*f)(argc, argv, env);
}

QH_HIDDEN int __wrap___libc_start_main(main_fn main, int argc, char **argv, void (*init)(void),
                                       void (*fini)(void), void (*rtld_fini)(void),
                                       void *stack_end) {
    return qh_libc_start_main_2_2_5(main, argc, argv,
                                    init ? init : (void (*)(void))run_constructors, fini, rtld_fini,
                                    stack_end);
}

/* The C++ runtime asks whether the process may be multi-threaded before it
 * skips an atomic operation; "maybe" is always a correct answer. */
QH_HIDDEN char __wrap___libc_single_threaded = 0;

/* The runtime's weak references to the thread library (--wrap makes them
 * __wrap_ names) stay undefined, so that it runs as the single-threaded
 * program qhosts is, on every glibc version. */

/* The unwinder's lookup of the unwind tables that contain `pc` (glibc 2.35),
 * answered from the program headers as older unwinders did. */
struct find_request {
    uintptr_t pc;
    struct dl_find_object *result;
};

static int find_object(struct dl_phdr_info *info, size_t size, void *data) {
    struct find_request *request = (struct find_request *)data;
    (void)size;
    uintptr_t start = UINTPTR_MAX, end = 0;
    int contains = 0;
    const void *eh_frame = NULL;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) *ph = &info->dlpi_phdr[i];
        uintptr_t from = info->dlpi_addr + ph->p_vaddr;
        if (ph->p_type == PT_LOAD) {
            if (from < start)
                start = from;
            if (from + ph->p_memsz > end)
                end = from + ph->p_memsz;
            if (request->pc >= from && request->pc < from + ph->p_memsz)
                contains = 1;
        } else if (ph->p_type == PT_GNU_EH_FRAME) {
            eh_frame = (const void *)from;
        }
    }
    if (!contains)
        return 0;
    request->result->dlfo_flags = 0;
    request->result->dlfo_map_start = (void *)start;
    request->result->dlfo_map_end = (void *)end;
    request->result->dlfo_link_map = NULL;
    request->result->dlfo_eh_frame = (void *)eh_frame;
    return 1;
}

QH_HIDDEN int __wrap__dl_find_object(void *pc, struct dl_find_object *result) {
    struct find_request request = {(uintptr_t)pc, result};
    return dl_iterate_phdr(find_object, &request) == 1 ? 0 : -1;
}

/* Random bytes for std::random_device (glibc 2.25 and 2.36). */
QH_HIDDEN int __wrap_getentropy(void *buffer, size_t length) {
    if (length > 256) {
        errno = EIO;
        return -1;
    }
    size_t done = 0;
    while (done < length) {
        long got = syscall(SYS_getrandom, (char *)buffer + done, length - done, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        done += (size_t)got;
    }
    return 0;
}

QH_HIDDEN uint32_t __wrap_arc4random(void) {
    uint32_t value = 0;
    while (__wrap_getentropy(&value, sizeof value) != 0) {
    }
    return value;
}
#endif
