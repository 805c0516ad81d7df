// qh_record_size: prints the bytes of one record of the library's table, the
// memory every loaded record takes, for the memory floor of compare.py. It
// is read from the build's own definition, so that the floor follows the
// record when it changes.
#include <cstdio>

#include "hosts_internal.h"

int main() {
    std::printf("%zu\n", sizeof(host_record));
    return 0;
}
