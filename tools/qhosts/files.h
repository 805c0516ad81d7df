// The few file operations qhosts does itself, beside the library's save.
#ifndef QHOSTS_FILES_H
#define QHOSTS_FILES_H

#include <string>

// Creates an empty file of its own in the temporary folder.
bool make_temp_file(std::string &path);

// Copies the file at `path` to standard output.
bool copy_to_stdout(const std::string &path);

#endif
