// Any bytes as a hosts file: qhosts' reading of the lines must agree with
// the library's loader. Every record the library made is matched to the
// line it came from, in order, whatever the input; finding the reasons of
// the broken lines leaves the tables as they were; and a glob made of the
// first line ends on the rest, whatever its stars.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "lines.h"
#include "quendral-hosts.h"
#include "text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    write_file(scratch_hosts(), data, size);
    expect_success(hosts_set_path(scratch_hosts().c_str()), "hosts_set_path");
    if (hosts_load() != 1)
        return 0;  // NUL bytes: the library refuses the whole file
    std::vector<record> records;
    if (!fetch_all_records(records))
        fail("the %d records could not be read", hosts_count());
    std::vector<broken_line> broken;
    if (!find_broken_lines(bytes, records, broken))
        fail("the lines and the library's %zu records disagree", records.size());
    if (static_cast<std::size_t>(hosts_count()) != records.size())
        fail("finding the reasons left %d records, not %zu", hosts_count(), records.size());
    for (const broken_line &line : broken) {
        if (line.text.empty() || line.reason.empty() || line.number < 1)
            fail("a broken line without its text, reason or number: %d", line.number);
    }
    const std::size_t end = bytes.find('\n');
    glob_match(bytes.substr(0, end), end == std::string::npos ? "" : bytes.substr(end + 1));
    return 0;
}
