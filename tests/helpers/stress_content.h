// The file the concurrency stress test starts from, the record each save
// adds, and the check that a read saw one complete version.
#ifndef QH_STRESS_CONTENT_H
#define QH_STRESS_CONTENT_H

#include <set>
#include <sstream>
#include <string>

const int k_stress_filler = 2000;
const int k_stress_max_rounds = 5000;
const char k_stress_last_line[] = "# stress test: last line";

inline std::string stress_ip(int id, int round) {
    return "10." + std::to_string(id) + "." + std::to_string(round / 256) + "." +
           std::to_string(round % 256);
}

inline std::string stress_name(int id, int round) {
    return "saver" + std::to_string(id) + "-round" + std::to_string(round) + ".test";
}

// Filler records, so that a save takes long enough to overlap another,
// and a comment line that every save writes last.
inline std::string stress_start_file() {
    std::string text;
    for (int i = 0; i < k_stress_filler; ++i)
        text += "10.200." + std::to_string(i / 256) + "." + std::to_string(i % 256) + " filler-" +
                std::to_string(i) + ".test\n";
    return text + k_stress_last_line + "\n";
}

// True when `text` is one complete version: all filler records, then the
// records saves added, then the last line. Adds the added names to `names`.
inline bool stress_names(const std::string &text, std::set<std::string> &names) {
    std::istringstream lines(text);
    std::string line;
    int filler = 0;
    bool ended = false;
    while (std::getline(lines, line)) {
        if (ended)
            return false;
        if (line == k_stress_last_line) {
            ended = true;
        } else if (line.rfind("10.200.", 0) == 0) {
            ++filler;
        } else {
            std::size_t blank = line.find(' ');
            if (blank == std::string::npos || line.compare(blank + 1, 5, "saver") != 0)
                return false;
            names.insert(line.substr(blank + 1));
        }
    }
    return ended && filler == k_stress_filler && !text.empty() && text.back() == '\n';
}

#endif
