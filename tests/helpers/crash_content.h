// The two contents the crash test alternates between: the same 20,000
// records, with the first one enabled ("new") or disabled ("old").
#ifndef QH_CRASH_CONTENT_H
#define QH_CRASH_CONTENT_H

#include <string>

const int k_crash_records = 20000;

inline std::string crash_ip(int i) {
    return "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
           std::to_string(i % 256);
}

inline std::string crash_name(const char *tag, int i) {
    return std::string(tag) + "-host-" + std::to_string(i) + ".example";
}

inline std::string crash_file(const char *tag, bool first_enabled = true) {
    std::string text = first_enabled ? "" : "# ";
    for (int i = 0; i < k_crash_records; ++i)
        text += crash_ip(i) + " " + crash_name(tag, i) + " # written by the crash test\n";
    return text;
}

#endif
