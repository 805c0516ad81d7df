// How qhosts ends: exit codes, and the one-line messages on stderr.
#ifndef QHOSTS_REPORT_H
#define QHOSTS_REPORT_H

#include <string>

// 3: a TARGET matched nothing, which a script may well take as done.
enum exit_code { k_exit_ok = 0, k_exit_failed = 1, k_exit_usage = 2, k_exit_no_match = 3 };

// Prints "qhosts: MESSAGE" on stderr.
void report(const std::string &message);

// Reports the library's error text; returns k_exit_failed.
int report_library_error();

// Reports a usage mistake in one line; returns k_exit_usage.
int usage_error(const std::string &message);

// Prints "qhosts: MESSAGE" on stderr unless the run is quiet: a notice, not
// an error.
void notice(const std::string &message);
void set_quiet(bool quiet);

#endif
