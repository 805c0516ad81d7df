// Saves two different tables to the hosts file given on the command line,
// one after the other, until it is killed.
#include <cstdlib>
#include <string>

#include "quendral-hosts.h"
#include "crash_content.h"

int main(int argc, char **argv) {
    if (argc != 2 || hosts_set_path(argv[1]) != 1)
        return 2;
    for (int round = 0;; ++round) {
        while (hosts_count() > 0)
            hosts_remove(hosts_count() - 1);
        const char *tag = round % 2 == 0 ? "new" : "old";
        for (int i = 0; i < k_crash_records; ++i)
            hosts_add(crash_ip(i).c_str(), crash_name(tag, i).c_str(), "written by the crash test");
        if (hosts_save() != 1)
            return 1;
    }
}
