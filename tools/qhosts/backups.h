// The copies qhosts keeps of a hosts file at PATH: dated backups,
// PATH.bak.YYYYMMDD-HHMMSS in local time ("-2", "-3"... after a name taken
// in the same second), and PATH.orig, the file as it was before the first
// save that rearranged it, written once and never replaced.
#ifndef QHOSTS_BACKUPS_H
#define QHOSTS_BACKUPS_H

#include <string>
#include <vector>

struct backup {
    std::string path;
    std::string stamp;  // "YYYYMMDD-HHMMSS", as in the name
    int number;         // 1 for the first name of a second, then 2, 3...
};

// The dated backups of `path`, oldest first.
bool list_backups(const std::string &path, std::vector<backup> &out, std::string &error);

// Copies the file at `path` to a new dated backup (nothing when there is no
// file), then removes the oldest ones beyond the newest `keep` (0 keeps
// them all), never `spared`. `written` is the new backup's path, or empty.
bool write_dated_backup(const std::string &path, int keep, const std::string &spared,
                        std::string &written, std::string &error);

std::string original_path(const std::string &path);

#endif
