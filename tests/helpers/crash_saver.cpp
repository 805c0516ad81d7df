// Loads the crash test's hosts file given on the command line, then saves it
// again and again, the first record enabled in even rounds and disabled in
// odd ones: SAVES times, or until it is killed. Once loaded it makes the file
// "HOSTS.running", so that the crash test times its kills from there, when
// only saves are left.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "crash_content.h"
#include "quendral-hosts.h"

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3 || hosts_set_path(argv[1]) != 1)
        return 2;
    const long saves = argc == 3 ? std::strtol(argv[2], nullptr, 10) : -1;
    if (hosts_load() != 1 || hosts_count() != k_crash_records)
        return 3;
    std::FILE *running = std::fopen((std::string(argv[1]) + ".running").c_str(), "wb");
    if (running == nullptr || std::fclose(running) != 0)
        return 3;
    for (long round = 0; saves < 0 || round < saves; ++round) {
        if (hosts_set_enabled(0, round % 2 == 0) != 1 || hosts_save() != 1)
            return 1;
    }
    return 0;
}
