// The temporary file "<file>.tmp" is the lock of a save: it is created
// shared for reading alone and held open from its creation until after the
// replace, which renames it through that handle, so no other save can
// write, delete or rename it meanwhile, and there is no moment in which
// another save could take it for a left-over file. A save runs:
//
//   create_temp(tmp, target, &file)   CREATE_NEW, FILE_SHARE_READ; a name
//                                     held by another save is FILE_BUSY: wait
//   ... write_all, sync ...
//   replace(file, tmp, target)        rename through the handle, then flush
//   close(file)
//
// or discard(file, tmp) instead of the replace, which deletes the file
// through its handle. A PATH.tmp that exists while no save holds it open
// is left over from a killed save, or planted. It is never opened to read
// or write, nor deleted, by its name (wine deletes a symlink's target, not the link): a
// new file made under a name of this process's own is renamed over it,
// which replaces the name alone, and fails while another save holds the
// file open.
#ifndef QUENDRAL_HOSTS_WIN_SAVE_LOCK_H
#define QUENDRAL_HOSTS_WIN_SAVE_LOCK_H

#include "internal.h"

namespace platform {

file_status create_temp(const char *tmp, const char *target, qh_file **file, sys_error *err);
void discard(qh_file *file, const char *tmp);

}  // namespace platform

#endif
