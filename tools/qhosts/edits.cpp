#include "edits.h"

#include <optional>

#include "quendral-hosts.h"
#include "records.h"
#include "render.h"
#include "report.h"

namespace {

// The library keeps a comment's outer blanks until the next save and load;
// comparing and storing the trimmed text keeps a repeated edit a no-op.
std::string trimmed(const std::string &text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// COMMENT when given, trimmed and held by value, so that the edit outlives
// the command line.
std::optional<std::string> trimmed_comment(const std::string *comment) {
    if (comment == nullptr)
        return std::nullopt;
    return trimmed(*comment);
}

// Adds IP/NAME; -1 after reporting the library's refusal.
int add_record(const std::string &ip, const std::string &name, const std::string &comment) {
    const int index =
        hosts_add(ip.c_str(), name.c_str(), comment.empty() ? nullptr : comment.c_str());
    if (index < 0)
        report_library_error();
    return index;
}

}  // namespace

edit_fn add_edit(const std::string &ip, const std::string &name, const std::string *comment) {
    const auto note = trimmed_comment(comment);
    return [ip, name, note](edit_outcome &outcome) {
        std::vector<record> records;
        if (!fetch_all_records(records))
            return false;
        const std::string key = address_key(ip);
        for (std::size_t i = 0; i < records.size(); ++i) {
            const record &rec = records[i];
            if (rec.enabled && same_name(rec.name, name) && address_key(rec.ip) == key) {
                outcome.lines.push_back(std::to_string(i));
                return true;
            }
        }
        const int index = add_record(ip, name, note ? *note : "");
        if (index < 0)
            return false;
        outcome.changed = true;
        outcome.lines.push_back(std::to_string(index));
        return true;
    };
}

namespace {

// One line of set's report; the index is where the record ends up.
struct set_change {
    const char *verb;
    int index;
    std::string summary;
};

}  // namespace

edit_fn set_edit(const std::string &ip, const std::string &name, const std::string *comment) {
    const auto note = trimmed_comment(comment);
    return [ip, name, note](edit_outcome &outcome) {
        std::vector<record> records;
        if (!fetch_all_records(records))
            return false;
        const std::string key = address_key(ip);
        const auto index_of = [&records](const record &rec) {
            return static_cast<int>(&rec - records.data());
        };
        // The record to keep: an enabled NAME/IP one, else a disabled one.
        const record *kept = nullptr;
        for (const record &rec : records) {
            if (same_name(rec.name, name) && address_key(rec.ip) == key &&
                (kept == nullptr || (rec.enabled && !kept->enabled)))
                kept = &rec;
        }
        std::vector<set_change> changes;
        for (const record &rec : records) {
            if (rec.enabled && same_name(rec.name, name) && &rec != kept) {
                if (hosts_set_enabled(index_of(rec), 0) != 1) {
                    report_library_error();
                    return false;
                }
                changes.push_back({"disabled", index_of(rec), record_summary(rec)});
            }
        }
        if (kept && (!note || *note == kept->comment)) {
            if (!kept->enabled) {
                if (hosts_set_enabled(index_of(*kept), 1) != 1) {
                    report_library_error();
                    return false;
                }
                changes.push_back({"enabled", index_of(*kept), record_summary(*kept)});
            }
        } else {
            // A comment cannot be changed in place: the record is written
            // anew at the end, and the records after its old place move up.
            const char *verb = "added";
            if (kept) {
                if (hosts_remove(index_of(*kept)) != 1) {
                    report_library_error();
                    return false;
                }
                for (set_change &earlier : changes) {
                    if (earlier.index > index_of(*kept))
                        --earlier.index;
                }
                verb = kept->enabled ? "updated" : "enabled";
            }
            const record added{ip, name, true, note ? *note : ""};
            const int index = add_record(added.ip, added.name, added.comment);
            if (index < 0)
                return false;
            changes.push_back({verb, index, record_summary(added)});
        }
        for (const set_change &done : changes) {
            outcome.lines.push_back(std::string(done.verb) + " " + std::to_string(done.index) +
                                    ": " + done.summary);
        }
        outcome.changed = !changes.empty();
        return true;
    };
}

edit_fn change_edit(const std::vector<std::string> &targets, change what) {
    return [targets, what](edit_outcome &outcome) {
        std::vector<int> indexes;
        if (!resolve_targets(targets, indexes))
            return false;
        if (what == change::remove) {
            // Each removal shifts later records down, so going from the
            // highest index keeps the remaining indexes pointing at the
            // chosen records.
            for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) {
                if (hosts_remove(*it) != 1) {
                    report_library_error();
                    return false;
                }
            }
            outcome.changed = true;
            return true;
        }
        const bool enable = what == change::enable;
        for (int index : indexes) {
            record rec;
            if (!fetch_record(index, rec))
                return false;
            if (rec.enabled == enable)
                continue;
            if (hosts_set_enabled(index, enable ? 1 : 0) != 1) {
                report_library_error();
                return false;
            }
            outcome.changed = true;
        }
        return true;
    };
}
