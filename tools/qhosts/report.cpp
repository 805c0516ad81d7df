#include "report.h"

#include <cstdio>

#include "quendral-hosts.h"

namespace {

bool s_quiet = false;

}  // namespace

void report(const std::string &message) {
    std::fprintf(stderr, "qhosts: %s\n", message.c_str());
}

int report_library_error() {
    report(hosts_last_error());
    return k_exit_failed;
}

int usage_error(const std::string &message) {
    report(message + " (see qhosts --help)");
    return k_exit_usage;
}

void notice(const std::string &message) {
    if (!s_quiet)
        report(message);
}

void set_quiet(bool quiet) {
    s_quiet = quiet;
}
