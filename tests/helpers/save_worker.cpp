// The other processes of the concurrency tests:
//   save HOSTS ID GO STOP RESULT  load, add a record of its own and save, over
//                                 and over from GO until STOP exists; one line
//                                 per save in RESULT: "ROUND RC ERROR"
//   read HOSTS GO STOP RESULT     read the file whole, over and over, and
//                                 write how many reads there were, how many
//                                 were not a complete version, and every
//                                 record name seen
//   lock HOSTS READY              take the save lock of HOSTS as a save does,
//                                 create READY, and wait to be killed
//   hold HOSTS READY RELEASE      hold HOSTS open (as a virus scanner does)
//                                 until RELEASE exists
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "hooks.h"
#include "hosts_internal.h"
#include "stress_content.h"

namespace {

bool exists(const std::string &path) {
    return std::ifstream(path).good();
}

void create(const std::string &path) {
    std::ofstream(path) << "1\n";
}

void pause_ms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void wait_for(const std::string &path) {
    while (!exists(path))
        pause_ms(1);
}

int save_loop(const std::string &hosts, int id, const std::string &go, const std::string &stop,
              const std::string &result) {
    std::ofstream out(result);
    if (hosts_set_path(hosts.c_str()) != 1)
        return 2;
    create(result + ".started");
    wait_for(go);
    for (int round = 0; !exists(stop) && round < k_stress_max_rounds; ++round) {
        // Another process may hold the file for a moment (Windows); the load
        // is retried so that the save, not the load, meets the contention.
        for (int tries = 0; hosts_load() != 1 && tries < 100; ++tries)
            pause_ms(2);
        int rc = hosts_add(stress_ip(id, round).c_str(), stress_name(id, round).c_str(), nullptr);
        if (rc >= 0)
            rc = hosts_save();
        out << round << ' ' << rc << ' ' << hosts_last_error() << '\n';
    }
    return out.good() ? 0 : 1;
}

int read_loop(const std::string &hosts, const std::string &go, const std::string &stop,
              const std::string &result) {
    long reads = 0, incomplete = 0, unopened = 0;
    std::set<std::string> seen;
    create(result + ".started");
    wait_for(go);
    while (!exists(stop)) {
        // A gap between reads, as real readers leave: on Windows a reader
        // that never closes the file would rightly keep every save out.
        pause_ms(1);
        std::ifstream in(hosts, std::ios::binary);
        if (!in.good()) {
            ++unopened;  // Windows: a save held it for a moment
            continue;
        }
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        in.close();
        ++reads;
        if (!stress_names(text, seen))
            ++incomplete;
    }
    std::ofstream out(result);
    out << reads << ' ' << incomplete << ' ' << unopened << '\n';
    for (const std::string &name : seen)
        out << name << '\n';
    return out.good() ? 0 : 1;
}

int hold_lock(const std::string &hosts, const std::string &ready) {
    const std::string tmp = hosts + ".tmp";
    qh_file *file = nullptr;
    sys_error err{};
    if (native_system.create_temp(tmp.c_str(), hosts.c_str(), &file, &err) != FILE_OK) {
        std::fprintf(stderr, "lock: %s\n", err.text);
        return 1;
    }
    create(ready);
    for (;;)
        pause_ms(1000);
}

int hold_open(const std::string &hosts, const std::string &ready, const std::string &release) {
    std::FILE *held = std::fopen(hosts.c_str(), "rb");
    if (held == nullptr)
        return 1;
    create(ready);
    wait_for(release);
    std::fclose(held);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "save" && argc == 7)
        return save_loop(argv[2], std::atoi(argv[3]), argv[4], argv[5], argv[6]);
    if (mode == "read" && argc == 6)
        return read_loop(argv[2], argv[3], argv[4], argv[5]);
    if (mode == "lock" && argc == 4)
        return hold_lock(argv[2], argv[3]);
    if (mode == "hold" && argc == 5)
        return hold_open(argv[2], argv[3], argv[4]);
    std::fprintf(stderr, "usage: see the top of save_worker.cpp\n");
    return 2;
}
