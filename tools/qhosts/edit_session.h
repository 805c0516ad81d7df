// One edit from load to save: qhosts performs exactly one command per run,
// since the library keeps one global state.
#ifndef QHOSTS_EDIT_SESSION_H
#define QHOSTS_EDIT_SESSION_H

#include <functional>
#include <string>
#include <vector>

#include "options.h"

struct edit_outcome {
    bool changed = false;            // false: nothing to save
    std::vector<std::string> lines;  // printed once the edit took effect
};

// Applies a command's change to the records just loaded. Returns false after
// reporting why the edit cannot be made.
using edit_fn = std::function<bool(edit_outcome &)>;

// Loads, applies `edit` and saves (or, with --dry-run, shows what would be
// saved), then flushes the resolver cache when asked. Returns the exit code.
int run_edit(const options &opts, const edit_fn &edit);

// Runs the flush and reports it. After an edit (`after_save`) the plain
// success line is left out so that the edit's own output stays the only
// thing on stdout, and a failure says that the file was saved regardless.
int flush_resolver(bool after_save);

#endif
