// The file operations qhosts does itself, beside the library's load and
// save, and what the system's error texts mean. One implementation per
// system: unix/files.cpp and win/files.cpp.
#ifndef QHOSTS_FILES_H
#define QHOSTS_FILES_H

#include <optional>
#include <string>
#include <vector>

enum class read_result { ok, absent, failed };

// Reads the whole file at `path` into `bytes`; on failure `error` says why.
read_result read_file(const std::string &path, std::string &bytes, std::string &error);

// Whether anything (a file, a folder, a link) is at `path`.
bool path_exists(const std::string &path);

// Creates an empty file of its own in the temporary folder.
bool make_temp_file(std::string &path);

// The hosts file the library uses when given no path.
std::string system_hosts_path();

// The folder part of `path` ("." when it has none) and the name in it.
std::string folder_of(const std::string &path);
std::string name_in_folder(const std::string &path);

// The names of the files in `folder`.
bool list_folder(const std::string &folder, std::vector<std::string> &names, std::string &error);

bool remove_file(const std::string &path, std::string &error);

enum class write_result { written, exists, failed };

// Writes `bytes` to `path` the way the library saves: a temporary file of
// this process's own beside it, with the permissions of `like` when that
// file exists, flushed to disk, then put in place in one step. With
// `replace` false an existing `path` is never touched: the result is then
// `exists`. On failure `error` is the system's reason alone.
write_result write_copy(const std::string &bytes, const std::string &path, const std::string &like,
                        bool replace, std::string &error);

// Puts `bytes` in place of the file at `path` in one step, keeping its
// owner and permissions (its security descriptor and attributes on
// Windows): a symbolic link stays, the file it leads to is replaced. Just
// before the replace the file must still hold `expected` (or, for
// nullopt, still be absent); otherwise nothing changes and `error` says
// that the file changed.
bool replace_contents(const std::string &path, const std::string &bytes,
                      const std::optional<std::string> &expected, std::string &error);

// Whether `path` names the system hosts file (on Windows, whatever the case
// of its letters or the form of the path).
bool is_system_hosts_file(const std::string &path);

// The folder from which the system's resolver reads its hosts file, when it
// is another than the folder of `path`; empty when it is the same, and on
// systems where that folder is fixed. On Windows it is DataBasePath of the
// Tcpip service's parameters, with its environment strings expanded.
std::string resolver_folder_elsewhere(const std::string &path);

// True when an error text ends in the system's words for a refused access
// (EACCES or EPERM; on Windows, access denied).
bool refused_access(const std::string &error_text);

// The line that follows such an error: how to run with the rights needed.
const char *elevation_hint();

#endif
