// Pieces of the Windows platform layer that tests reach directly.
#ifndef QUENDRAL_HOSTS_PLATFORM_WIN_H
#define QUENDRAL_HOSTS_PLATFORM_WIN_H

#include <cstddef>

enum { PATH_ROOM = 8300 };

// The hosts file of a system whose system folder is `system_dir` (as
// GetSystemDirectoryA gives it; "" when unknown): the documented constant
// on a standard installation, so that messages read the same everywhere,
// else inside that folder. May fill `room` (`size` bytes).
const char *hosts_path_in(const char *system_dir, char *room, std::size_t size);

#endif
