// The changes the editing commands make to the loaded records. Each is a
// function of the records as they are at the moment, so that it can be
// applied again to a fresh load when the file changed under the save.
#ifndef QHOSTS_EDITS_H
#define QHOSTS_EDITS_H

#include <string>
#include <vector>

#include "edit_session.h"

// qhosts add: an enabled IP/NAME record, unless one is there already; the
// report is the record's index either way.
edit_fn add_edit(const std::string &ip, const std::string &name, const std::string *comment);

// qhosts set: afterwards NAME has exactly one enabled record, with address
// IP (and COMMENT when given); one report line per record changed.
edit_fn set_edit(const std::string &ip, const std::string &name, const std::string *comment);

enum class change { enable, disable, remove };

// qhosts enable/disable/remove TARGET...
edit_fn change_edit(const std::vector<std::string> &targets, change what);

#endif
