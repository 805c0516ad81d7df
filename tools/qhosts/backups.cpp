#include "backups.h"

#include <algorithm>
#include <ctime>

#include "files.h"
#include "report.h"
#include "text.h"

namespace {

const char k_backup_infix[] = ".bak.";
const std::size_t k_stamp_size = 15;  // YYYYMMDD-HHMMSS

std::string local_stamp() {
    const std::time_t now = std::time(nullptr);
    char text[32];
    // qhosts runs single-threaded, so localtime's shared result is safe.
    if (std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", std::localtime(&now)) != k_stamp_size)
        return "00000000-000000";
    return text;
}

bool is_stamp(const std::string &text) {
    return text.size() == k_stamp_size && text[8] == '-' && is_digits(text.substr(0, 8)) &&
           is_digits(text.substr(9));
}

// Reads "NAME.bak.STAMP" or "NAME.bak.STAMP-N" for the file NAME.
bool read_backup_name(const std::string &entry, const std::string &name, backup &out) {
    const std::string start = name + k_backup_infix;
    if (!entry.starts_with(start))
        return false;
    const std::string rest = entry.substr(start.size());
    out.stamp = rest.substr(0, k_stamp_size);
    if (!is_stamp(out.stamp))
        return false;
    out.number = 1;
    if (rest.size() == k_stamp_size)
        return true;
    const std::string number = rest.substr(k_stamp_size + 1);
    if (rest[k_stamp_size] != '-' || !is_digits(number) || number.size() > 6)
        return false;
    out.number = std::stoi(number);
    return out.number >= 2;
}

// `name` in the folder of `path`, spelled as `path` spells its folder.
std::string in_folder_of(const std::string &path, const std::string &name) {
    return path.substr(0, path.size() - name_in_folder(path).size()) + name;
}

void remove_oldest(const std::string &path, int keep, const std::string &spared) {
    std::vector<backup> backups;
    std::string error;
    if (!list_backups(path, backups, error)) {
        notice("not removing old backups: " + error);
        return;
    }
    std::erase_if(backups, [&](const backup &b) { return b.path == spared; });
    const std::size_t kept = static_cast<std::size_t>(keep);
    for (std::size_t i = 0; i + kept < backups.size(); ++i) {
        if (!remove_file(backups[i].path, error))
            notice("not removing an old backup: " + error);
    }
}

}  // namespace

bool list_backups(const std::string &path, std::vector<backup> &out, std::string &error) {
    std::vector<std::string> entries;
    if (!list_folder(folder_of(path), entries, error))
        return false;
    const std::string name = name_in_folder(path);
    for (const std::string &entry : entries) {
        backup found;
        if (read_backup_name(entry, name, found)) {
            found.path = in_folder_of(path, entry);
            out.push_back(found);
        }
    }
    std::sort(out.begin(), out.end(), [](const backup &a, const backup &b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.number < b.number;
    });
    return true;
}

bool write_dated_backup(const std::string &path, int keep, const std::string &spared,
                        std::string &written, std::string &error) {
    written.clear();
    std::string bytes;
    const read_result state = read_file(path, bytes, error);
    if (state == read_result::absent)
        return true;
    if (state == read_result::failed)
        return false;
    const std::string base = path + k_backup_infix + local_stamp();
    for (int number = 1;; ++number) {
        const std::string name = number == 1 ? base : base + "-" + std::to_string(number);
        const write_result result = write_copy(bytes, name, path, false, error);
        if (result == write_result::written) {
            written = name;
            break;
        }
        if (result == write_result::failed) {
            error = "cannot back up " + path + " to " + name + ": " + error;
            return false;
        }
    }
    if (keep > 0)
        remove_oldest(path, keep, spared);
    return true;
}

std::string original_path(const std::string &path) {
    return path + ".orig";
}
