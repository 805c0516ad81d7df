#include "generate.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qh_bench {
namespace {

// splitmix64: the same numbers on every platform and standard library, which
// the <random> distributions do not promise.
class random_source {
public:
    explicit random_source(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    // A number in [0, n).
    unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }

    template <std::size_t N>
    const char *pick(const char *const (&items)[N]) {
        return items[below(static_cast<unsigned>(N))];
    }

private:
    std::uint64_t state_;
};

const char *const kWords[] = {
    "ads",     "adserver",  "analytics", "banner",    "beacon",  "click",    "collect",
    "counter", "metrics",   "pixel",     "popup",     "promo",   "stats",    "sync",
    "tag",     "telemetry", "track",     "affiliate", "survey",  "widget",   "media",
    "cdn",     "static",    "log",       "events",    "insight", "audience", "bid",
};

const char *const kTlds[] = {"com", "net", "org", "io", "info", "biz", "co", "xyz", "de", "ru"};

const char *const kReasons[] = {
    "tracker",      "malware",   "phishing",          "ad network",
    "crypto miner", "telemetry", "reported by users", "false positive?",
};

const char *const kSections[] = {
    "advertising",   "tracking and telemetry", "malware", "phishing",
    "crypto mining", "social widgets",         "pop-ups", "fake news",
};

class hosts_writer {
public:
    hosts_writer(std::FILE *file, int records, std::uint64_t seed)
        : file_(file), random_(seed), remaining_(records), seed_(seed) {}

    void header() {
        line("# Title: generated ad-block hosts list");
        line("# Made by the quendral-hosts benchmark generator; every name is invented.");
        line("# Records: " + std::to_string(remaining_));
        line("# Seed: " + std::to_string(seed_));
        line("#");
        line("# Each entry points an unwanted host at 0.0.0.0 so that it resolves nowhere.");
        line("# ==========================================================================");
        line("");
        line("# Local host records");
        entry("127.0.0.1", {"localhost"}, false, nullptr);
        entry("127.0.0.1", {"localhost.localdomain"}, false, nullptr);
        entry("255.255.255.255", {"broadcasthost"}, false, nullptr);
        entry("::1", {"localhost", "ip6-localhost", "ip6-loopback"}, false, nullptr);
        // A zone suffix is not an address the library accepts: the line stays as it is.
        line("fe80::1%lo0 localhost");
        entry("ff02::1", {"ip6-allnodes"}, false, nullptr);
        entry("ff02::2", {"ip6-allrouters"}, false, nullptr);
        line("# End of local host records");
        line("");
    }

    void body() {
        unsigned until_section = 0;
        while (remaining_ > 0) {
            if (until_section-- == 0) {
                section();
                until_section = 2000 + random_.below(6000);
            }
            const unsigned kind = random_.below(1000);
            if (kind < 50) {
                // Commented-out entries carry one name: "# IP A B" is prose to the loader.
                const char *reason = random_.below(4) == 0 ? random_.pick(kReasons) : nullptr;
                entry("0.0.0.0", names(1), true, reason);
            } else if (kind < 90) {
                entry("0.0.0.0", names(2 + random_.below(3)), false, nullptr);
            } else if (kind < 160) {
                entry("0.0.0.0", names(1), false, random_.pick(kReasons));
            } else if (kind < 170) {
                entry("127.0.0.1", names(1), false, nullptr);
            } else if (kind < 175) {
                entry("::", names(1), false, nullptr);
            } else if (kind < 177) {
                // A URL pasted in by mistake: not a host name, so the loader keeps the line.
                line("0.0.0.0 " + fresh_name() + "/banner.gif");
            } else {
                entry("0.0.0.0", names(1), false, nullptr);
            }
        }
    }

private:
    void line(const std::string &text) {
        std::fputs(text.c_str(), file_);
        // Lists edited on Windows mix in CR LF line ends.
        std::fputs(random_.below(100) < 5 ? "\r\n" : "\n", file_);
    }

    void section() {
        line("");
        line(std::string("# ---- ") + random_.pick(kSections) + " ----");
        if (random_.below(4) == 0)
            line("# Hosts below were reported by users; review before removing any.");
    }

    // Up to `wanted` new names, never more than the records still to write.
    std::vector<std::string> names(unsigned wanted) {
        std::vector<std::string> out;
        for (unsigned i = 0; i < wanted && static_cast<int>(i) < remaining_; ++i)
            out.push_back(fresh_name());
        return out;
    }

    // Unique through the serial number, ad-network-like around it.
    std::string fresh_name() {
        std::string name;
        if (random_.below(4) == 0) {
            name += random_.pick(kWords);
            name += '.';
        }
        name += random_.pick(kWords);
        if (random_.below(3) == 0) {
            name += '-';
            name += random_.pick(kWords);
        }
        unsigned serial = serial_++;
        std::string digits;
        do {
            digits.insert(digits.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[serial % 36]);
            serial /= 36;
        } while (serial != 0);
        name += digits;
        name += '.';
        name += random_.pick(kWords);
        name += '.';
        name += random_.pick(kTlds);
        return name;
    }

    // One line with as many of `hosts` as records remain; nothing once none do.
    void entry(const char *ip, std::vector<std::string> hosts, bool disabled, const char *comment) {
        if (hosts.size() > static_cast<std::size_t>(remaining_))
            hosts.resize(static_cast<std::size_t>(remaining_));
        if (hosts.empty())
            return;
        std::string text = disabled ? "# " : "";
        text += ip;
        const char *gap = random_.below(100) < 3 ? "\t" : " ";
        for (const std::string &host : hosts) {
            text += gap;
            text += host;
        }
        if (comment != nullptr) {
            text += " # ";
            text += comment;
        }
        line(text);
        remaining_ -= static_cast<int>(hosts.size());
    }

    std::FILE *file_;
    random_source random_;
    int remaining_;
    std::uint64_t seed_;
    unsigned serial_ = 0;
};

}  // namespace

bool write_hosts_file(const std::string &path, int records, std::uint64_t seed,
                      std::string &error) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    hosts_writer writer(file, records, seed);
    writer.header();
    writer.body();
    const bool written = std::ferror(file) == 0;
    if (std::fclose(file) != 0 || !written) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace qh_bench
