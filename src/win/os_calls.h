// System calls of the Windows layer that tests replace, through the hooks,
// to provoke failures a real system gives only rarely.
#ifndef QUENDRAL_HOSTS_WIN_OS_CALLS_H
#define QUENDRAL_HOSTS_WIN_OS_CALLS_H

#include <windows.h>

struct os_calls {
    // FlushFileBuffers of the replaced file, which makes the new name durable.
    BOOL(WINAPI *flush_file_buffers)(HANDLE file);
};

#endif
