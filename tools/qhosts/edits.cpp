#include "edits.h"

#include <algorithm>
#include <unordered_set>

#include "quendral-hosts.h"
#include "render.h"
#include "report.h"
#include "text.h"

namespace {

// The library keeps a comment's outer blanks until the next save and load;
// comparing and storing the trimmed text keeps a repeated edit a no-op.
std::optional<std::string> trimmed_comment(const std::optional<std::string> &comment) {
    if (!comment)
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

// A comment given as the last word, as older versions of add and set took
// it, is refused as a name: the refusal says where a comment goes.
void hint_at_comment(const std::vector<std::string> &names, const std::string &refused) {
    if (names.size() > 1 && &refused == &names.back() && refused.find(' ') != std::string::npos)
        report("hint: give a comment with --comment TEXT");
}

bool set_enabled(int index, bool enabled) {
    if (hosts_set_enabled(index, enabled ? 1 : 0) == 1)
        return true;
    report_library_error();
    return false;
}

bool remove_at(int index) {
    if (hosts_remove(index) == 1)
        return true;
    report_library_error();
    return false;
}

std::string change_line(const char *verb, int index, const record &rec) {
    return std::string(verb) + " " + std::to_string(index) + ": " + record_summary(rec);
}

// One line of set's report; the index is where the record ends up.
struct set_change {
    const char *verb;
    int index;
    std::string summary;
};

// set for one name, on the records as they are now.
bool set_one(const std::string &ip, const std::string &name, const std::optional<std::string> &note,
             std::vector<set_change> &changes) {
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
    for (const record &rec : records) {
        if (rec.enabled && same_name(rec.name, name) && &rec != kept) {
            if (!set_enabled(index_of(rec), false))
                return false;
            changes.push_back({"disabled", index_of(rec), record_summary(rec)});
        }
    }
    if (kept && (!note || *note == kept->comment)) {
        if (!kept->enabled) {
            if (!set_enabled(index_of(*kept), true))
                return false;
            changes.push_back({"enabled", index_of(*kept), record_summary(*kept)});
        }
        return true;
    }
    // A comment cannot be changed in place: the record is written anew at
    // the end, and the records after its old place move up.
    const char *verb = "added";
    if (kept) {
        if (!remove_at(index_of(*kept)))
            return false;
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
    return true;
}

// Removes the records at `indexes` (sorted). One at a time from the highest
// index, each removal moves every later record down; when that adds up to
// more than the table, the table is built again instead: every record is
// taken off its end, where nothing moves, and the kept ones added back in
// order, with their state and comment.
bool remove_records(const std::vector<int> &indexes, const std::vector<record> &records) {
    std::size_t moves = 0;
    for (std::size_t k = 0; k < indexes.size(); ++k) {
        const std::size_t later = records.size() - 1 - static_cast<std::size_t>(indexes[k]);
        moves += later - (indexes.size() - 1 - k);
    }
    if (moves <= records.size()) {
        for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) {
            if (!remove_at(*it))
                return false;
        }
        return true;
    }
    for (int i = static_cast<int>(records.size()) - 1; i >= 0; --i) {
        if (!remove_at(i))
            return false;
    }
    std::size_t next_removed = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (next_removed < indexes.size() && static_cast<std::size_t>(indexes[next_removed]) == i) {
            ++next_removed;
            continue;
        }
        const record &rec = records[i];
        const int index = add_record(rec.ip, rec.name, rec.comment);
        if (index < 0 || (!rec.enabled && !set_enabled(index, false)))
            return false;
    }
    return true;
}

}  // namespace

edit_fn add_edit(const std::string &ip, const std::vector<std::string> &names,
                 const std::optional<std::string> &comment) {
    const auto note = trimmed_comment(comment);
    return [ip, names, note](edit_outcome &outcome) {
        std::vector<record> records;
        if (!fetch_all_records(records))
            return int{k_exit_failed};
        const std::string key = address_key(ip);
        for (const std::string &name : names) {
            bool found = false;
            for (std::size_t i = 0; i < records.size() && !found; ++i) {
                const record &rec = records[i];
                if (rec.enabled && same_name(rec.name, name) && address_key(rec.ip) == key) {
                    outcome.lines.push_back(change_line("exists", static_cast<int>(i), rec));
                    found = true;
                }
            }
            if (found)
                continue;
            const record added{ip, name, true, note ? *note : ""};
            const int index = add_record(ip, name, added.comment);
            if (index < 0) {
                hint_at_comment(names, name);
                return int{k_exit_failed};
            }
            records.push_back(added);
            outcome.changed = true;
            outcome.lines.push_back(change_line("added", index, added));
        }
        return int{k_exit_ok};
    };
}

edit_fn set_edit(const std::string &ip, const std::vector<std::string> &names,
                 const std::optional<std::string> &comment) {
    const auto note = trimmed_comment(comment);
    return [ip, names, note](edit_outcome &outcome) {
        std::vector<set_change> changes;
        for (const std::string &name : names) {
            // Each name sees the records as the names before it left them.
            if (!set_one(ip, name, note, changes)) {
                hint_at_comment(names, name);
                return int{k_exit_failed};
            }
        }
        for (const set_change &done : changes) {
            outcome.lines.push_back(std::string(done.verb) + " " + std::to_string(done.index) +
                                    ": " + done.summary);
        }
        outcome.changed = !changes.empty();
        return int{k_exit_ok};
    };
}

edit_fn change_edit(const std::vector<target> &targets, change what, bool ignore_missing,
                    bool summary) {
    return [targets, what, ignore_missing, summary](edit_outcome &outcome) {
        std::vector<record> records;
        if (!fetch_all_records(records))
            return int{k_exit_failed};
        std::vector<int> indexes;
        const int chosen = choose_records(targets, records, ignore_missing, indexes);
        if (chosen != k_exit_ok)
            return chosen;
        std::vector<int> changed;
        const bool enable = what == change::enable;
        for (int index : indexes) {
            if (what == change::remove ||
                records[static_cast<std::size_t>(index)].enabled != enable)
                changed.push_back(index);
        }
        if (what == change::remove) {
            if (!remove_records(changed, records))
                return int{k_exit_failed};
        } else {
            for (int index : changed) {
                if (!set_enabled(index, enable))
                    return int{k_exit_failed};
            }
        }
        const char *verb = what == change::remove ? "removed" : enable ? "enabled" : "disabled";
        if (summary && !changed.empty()) {
            outcome.lines.push_back(std::string(verb) + " " + std::to_string(changed.size()) +
                                    (changed.size() == 1 ? " record" : " records"));
        } else if (!summary) {
            for (int index : changed)
                outcome.lines.push_back(
                    change_line(verb, index, records[static_cast<std::size_t>(index)]));
        }
        outcome.changed = !changed.empty();
        return int{k_exit_ok};
    };
}

edit_fn import_edit(const std::string &file, const std::vector<entry_line> &entries,
                    const std::optional<std::string> &comment, bool disabled) {
    const auto note = trimmed_comment(comment);
    // The entries are many (a blocklist) and outlive the edit: they are
    // referred to, not copied.
    return [file, &entries, note, disabled](edit_outcome &outcome) {
        std::vector<record> records;
        if (!fetch_all_records(records))
            return int{k_exit_failed};
        // As add: an enabled record counts as there; importing disabled
        // entries, a record in either state does.
        std::unordered_set<std::string> present;
        present.reserve(records.size() + entries.size());
        for (const record &rec : records) {
            if (rec.enabled || disabled)
                present.insert(entry_key(rec.ip, rec.name));
        }
        std::size_t added = 0, skipped = 0, refused = 0;
        for (const entry_line &entry : entries) {
            const std::string &text = note ? *note : entry.comment;
            const char *comment_text = text.empty() ? nullptr : text.c_str();
            const int first = hosts_count();
            std::vector<std::string> keys;  // of the records this line added
            std::size_t there = 0;
            bool line_refused = false;
            for (const std::string &name : entry.names) {
                std::string key = entry_key(entry.ip, name);
                if (present.count(key) != 0 ||
                    std::find(keys.begin(), keys.end(), key) != keys.end()) {
                    ++there;
                    continue;
                }
                const int index = hosts_add(entry.ip.c_str(), name.c_str(), comment_text);
                if (index < 0) {
                    outcome.notices.push_back(file + ":" + std::to_string(entry.number) + ": " +
                                              hosts_last_error());
                    line_refused = true;
                    break;
                }
                if (disabled && !set_enabled(index, false))
                    return int{k_exit_failed};
                keys.push_back(std::move(key));
            }
            if (line_refused) {
                // A refused name takes its whole line out, as at a load; what
                // the line added is at the end of the table.
                ++refused;
                while (hosts_count() > first) {
                    if (!remove_at(hosts_count() - 1))
                        return int{k_exit_failed};
                }
                continue;
            }
            skipped += there;
            added += keys.size();
            present.insert(keys.begin(), keys.end());
        }
        outcome.lines.push_back("imported " + file + ": added " + std::to_string(added) +
                                ", skipped " + std::to_string(skipped) + " already there" +
                                (refused ? ", refused " + std::to_string(refused) : ""));
        outcome.changed = added > 0;
        return int{k_exit_ok};
    };
}
