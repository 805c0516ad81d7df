// System calls of the Windows layer that tests replace, through the hooks,
// to provoke failures a real system gives only rarely.
#ifndef QUENDRAL_HOSTS_WIN_OS_CALLS_H
#define QUENDRAL_HOSTS_WIN_OS_CALLS_H

#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

#include <cstddef>

struct os_calls {
    // FlushFileBuffers of the replaced file, which makes the new name durable.
    BOOL(WINAPI *flush_file_buffers)(HANDLE file);
    // SetFileInformationByHandle, through which a save renames, deletes and
    // sets the attributes of its temporary file.
    BOOL(WINAPI *set_file_information)
    (HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void *info, DWORD size);
    // GetSecurityInfo, which reads the security a save gives the new file.
    DWORD(WINAPI *get_security_info)
    (HANDLE object, SE_OBJECT_TYPE kind, SECURITY_INFORMATION wanted, PSID *owner, PSID *group,
     PACL *dacl, PACL *sacl, PSECURITY_DESCRIPTOR *descriptor);
    // The fallback flush's program, ipconfig.exe of the system folder, into
    // `room` (`size` characters); false when there is none.
    bool (*fallback_program)(wchar_t *room, std::size_t size);
    // How long a flush waits for that program before it gives up on it.
    DWORD fallback_wait_ms;
};

#endif
