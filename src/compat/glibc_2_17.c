/*
 * Keeps the Linux binaries loadable on glibc 2.17 and later when they are
 * built against a newer glibc. The link (see CMakeLists.txt) sends the calls
 * that newer glibc versions export under a new version through --wrap to the
 * functions here, which reach the same service through an interface that
 * glibc 2.17 has: the system call for stat, fstat and lstat (glibc 2.33 made
 * them exported functions), the older version of dlopen and dlsym (glibc 2.34
 * moved them into libc), and the older __libc_start_main for a program.
 */
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
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
#endif
