// One edit from load to save: qhosts performs exactly one command per run,
// since the library keeps one global state.
#ifndef QHOSTS_EDIT_SESSION_H
#define QHOSTS_EDIT_SESSION_H

#include <functional>
#include <string>
#include <vector>

#include "options.h"
#include "quendral-hosts.h"

struct edit_outcome {
    bool changed = false;              // false: nothing to save
    std::vector<std::string> lines;    // printed once the edit took effect
    std::vector<std::string> notices;  // the same, on stderr
};

// Applies a command's change to the records just loaded. Returns k_exit_ok,
// or the exit code after reporting why the edit cannot be made.
using edit_fn = std::function<int(edit_outcome &)>;

// The library calls that frame an edit; tests put a substitute save here.
struct edit_calls {
    int(QH_CALL *load)();
    int(QH_CALL *save)();
    const char *(QH_CALL *last_error)();
};

extern const edit_calls library_edit_calls;

// How often an edit is applied to a fresh load when the save finds that the
// file changed since it was loaded.
constexpr int k_edit_attempts = 5;

// The path qhosts works on: --file, or the system hosts file.
std::string hosts_path(const options &opts);

// Loads, applies `edit` and saves, then flushes the resolver cache when
// asked. Before the first save that would rearrange the file (its bytes
// are not what the library writes for it), the file as it was is kept in
// PATH.orig; with --backup it is copied to a dated backup first; with
// --dry-run the file that would be written is shown instead. When the save
// is refused because another program changed the file since the load, the
// edit starts over on the new content. Returns the exit code.
int run_edit(const options &opts, const edit_fn &edit,
             const edit_calls &calls = library_edit_calls);

// Runs the flush and reports it. After an edit (`after_save`) the plain
// success line is left out so that the edit's own output stays the only
// thing on stdout, and a failure says that the file was saved regardless.
int flush_resolver(bool after_save);

// An edit that failed: the reason, and how to get the rights it needs when
// the system refused access. Returns k_exit_failed.
int edit_failed(const std::string &error_text);

#endif
