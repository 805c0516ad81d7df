// How qhosts ends: exit codes, and the one-line messages on stderr.
#ifndef QHOSTS_REPORT_H
#define QHOSTS_REPORT_H

#include <string>

enum exit_code { k_exit_ok = 0, k_exit_failed = 1, k_exit_usage = 2 };

// Prints "qhosts: MESSAGE" on stderr.
void report(const std::string &message);

// Reports the library's error text; returns k_exit_failed.
int report_library_error();

// Reports a usage mistake in one line; returns k_exit_usage.
int usage_error(const std::string &message);

#endif
