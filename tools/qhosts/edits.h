// The changes the editing commands make to the loaded records. Each is a
// function of the records as they are at the moment, so that it can be
// applied again to a fresh load when the file changed under the save.
#ifndef QHOSTS_EDITS_H
#define QHOSTS_EDITS_H

#include <optional>
#include <string>
#include <vector>

#include "edit_session.h"
#include "lines.h"
#include "records.h"
#include "targets.h"

// qhosts add: for each NAME, an enabled IP/NAME record unless one is there
// already; one report line per name, "added N: ..." or "exists N: ...".
edit_fn add_edit(const std::string &ip, const std::vector<std::string> &names,
                 const std::optional<std::string> &comment);

// qhosts set: afterwards each NAME has exactly one enabled record, with
// address IP (and COMMENT when given); one report line per record changed.
edit_fn set_edit(const std::string &ip, const std::vector<std::string> &names,
                 const std::optional<std::string> &comment);

enum class change { enable, disable, remove };

// qhosts enable/disable/remove: one report line per record changed, or
// with `summary`, one line for them all.
edit_fn change_edit(const std::vector<target> &targets, change what, bool ignore_missing,
                    bool summary);

// qhosts import: every entry that is not there yet is added, enabled (or
// disabled), with COMMENT when given; one report line with the counts.
// The library checks each line's address and names as it adds them; a line
// it refuses is left out whole, as its loader would, and named in a notice.
edit_fn import_edit(const std::string &file, const std::vector<entry_line> &entries,
                    const std::optional<std::string> &comment, bool disabled);

#endif
