// Shared by the fuzz targets: a private hosts file and the checks on the
// record table that hold whatever the input was.
#ifndef QH_FUZZ_SUPPORT_H
#define QH_FUZZ_SUPPORT_H

#include <cstddef>
#include <string>

// Reports a broken invariant and aborts, which libFuzzer records as a crash.
[[noreturn]] void fail(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// The hosts file the library is pointed at: "hosts" in a folder of its own,
// made on first use and removed at exit (after a crash it stays, holding the
// file that broke).
const std::string &scratch_hosts();

void write_file(const std::string &path, const void *data, std::size_t size);
std::string read_file(const std::string &path);

// A call that must succeed: result 1 and an empty error text.
void expect_success(int rc, const char *call);

// hosts_save, which must succeed and leave no temporary file behind.
void expect_saved(const char *what);

// hosts_get(index) must be strict JSON that says exactly what the record
// holds, and the record's address and name must pass their checks.
void check_record(int index);

// A text printed safely inside a failure message.
std::string shown(const std::string &text);

#endif
