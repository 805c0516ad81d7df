// The few file operations qhosts does itself, beside the library's save, and
// what the system's error texts mean.
#ifndef QHOSTS_FILES_H
#define QHOSTS_FILES_H

#include <string>

// Creates an empty file of its own in the temporary folder.
bool make_temp_file(std::string &path);

// Copies the file at `path` to standard output.
bool copy_to_stdout(const std::string &path);

// The hosts file the library uses when given no path.
std::string system_hosts_path();

// Copies the file at `path` to PATH.bak the way the library saves: a
// temporary file of this process's own beside it, written, flushed to disk
// and put in place in one step. An absent file leaves nothing to copy.
// On failure `error` says why and PATH.bak is untouched.
bool write_backup(const std::string &path, std::string &error);

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
