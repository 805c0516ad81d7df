// The temporary file "<file>.tmp" is the lock of a save. Its creator holds
// flock on it from just after creating it until it has been renamed into
// place or removed, and the kernel drops the lock when the process dies. A
// save runs:
//
//   create_temp(tmp, target, &file)   O_CREAT | O_EXCL | O_NOFOLLOW, then
//                                     flock; FILE_BUSY: another save holds
//                                     it, wait and try again
//   ... write_all, sync ...
//   replace(file, tmp, target)        rename(2) while still holding the lock
//   close(file)                       only after the folder is flushed
//
// or discard(file, tmp) instead of the replace. A PATH.tmp that nobody
// holds is left over from a killed save, or planted. The rules that keep
// savers from removing or renaming one another's file:
// - only the holder of a file's lock removes its name, and only after
//   checking, under the lock, that the name still leads to that file;
// - a creator that cannot lock its new file, or finds the name leading
//   elsewhere once it holds the lock, leaves it to the saver that took it
//   for stale (who removes it) and starts again;
// - the owner renames its file while still holding the lock, so a saver
//   that waited for that lock finds the name leading elsewhere when it
//   finally gets it, and leaves the name alone.
// A symlink, FIFO, socket or device at the name is never a save's file and
// cannot be locked through the name without following it: it is removed
// under a lock on the folder, so that two savers clearing it at once cannot
// remove the file one of them has created in its place.
#ifndef QUENDRAL_HOSTS_UNIX_SAVE_LOCK_H
#define QUENDRAL_HOSTS_UNIX_SAVE_LOCK_H

#include "internal.h"

namespace platform {

// Creates `tmp` and takes its lock; the new file has `target`'s owner,
// mode and extended attributes when `target` exists.
file_status create_temp(const char *tmp, const char *target, qh_file **file, sys_error *err);
// Removes the temporary file when the name still leads to it, still
// holding it, then closes it.
void discard(qh_file *file, const char *tmp);

}  // namespace platform

#endif
