// Several processes at work on one hosts file at once: saves follow one
// another, a save never replaces what another saved since its load, and a
// reader only ever sees one complete version.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "helpers/stress_content.h"
#include "hooks.h"
#include "hosts_internal.h"
#include "last_load.h"
#include "support/os_support.h"
#include "support/test_support.h"

namespace {

void touch(const std::string &path) {
    std::ofstream(path) << "1\n";
}

// How long one load, add and save of `hosts` takes here and now.
long long measure_one_save(const std::string &hosts) {
    hosts_set_path(hosts.c_str());
    const long long start = now_ms();
    const int rounds = 3;
    for (int i = 0; i < rounds; ++i) {
        EXPECT_EQ(hosts_load(), 1);
        hosts_add("10.9.9.9", "measure.test", nullptr);
        EXPECT_EQ(hosts_save(), 1) << hosts_last_error();
    }
    const long long each = (now_ms() - start) / rounds;
    reset_lists();
    forget_load();
    hosts_set_path(nullptr);
    return std::max(each, 1LL);
}

std::vector<std::string> lines_of(const std::string &path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A clock that moves only by the pauses a save asks for: how long a save
// waits is then exact, however busy the machine.
qh_system paced;
long long paced_now_ms;
long long paused_ms;

long long paced_clock() {
    return paced_now_ms;
}
void paced_sleep(int ms) {
    paced_now_ms += ms;
    paused_ms += ms;
}

// Kills a helper process however the test ends.
struct child_guard {
    child_process *child;
    ~child_guard() { stop(); }
    void stop() {
        if (child != nullptr) {
            kill_child(child);
            wait_child(child);
            child = nullptr;
        }
    }
};

}  // namespace

// Puts the library back as the tests found it, whatever a test left.
class ConcurrencyTest : public ::testing::Test {
protected:
    void SetUp() override { restore_native_hooks(); }
    void TearDown() override {
        restore_native_hooks();
        reset_lists();
        forget_load();
        hosts_set_path(nullptr);
    }
};

// Two processes each load, add a record of their own and save, over and
// over, while a third reads the file throughout. Every save ends in success
// or a documented refusal, every successful save's record is in the final
// file and no refused save's record ever appears, and no read sees anything
// but one complete version.
TEST_F(ConcurrencyTest, TwoSaversAndAReader) {
    TempDir dir;
    const std::string hosts = dir.file("hosts");
    write_bytes(hosts, stress_start_file());
    // About 250 saves' worth of time, so that the savers meet often at any
    // speed, bounded well under a minute.
    const long long save_ms = measure_one_save(hosts);
    const long long run_ms = std::min(std::max(250 * save_ms, 3000LL), 20000LL);
    write_bytes(hosts, stress_start_file());

    const std::string go = dir.file("go"), stop = dir.file("stop");
    const std::string worker = program_file("qh_save_worker");
    std::vector<child_process *> children;
    children.push_back(start_child(worker, {"read", hosts, go, stop, dir.file("reader")}));
    for (int id = 0; id < 2; ++id)
        children.push_back(start_child(worker, {"save", hosts, std::to_string(id), go, stop,
                                                dir.file("saver" + std::to_string(id))}));
    for (child_process *child : children)
        ASSERT_NE(child, nullptr);
    // The workers wait for `go`, so that they start together however slowly
    // each program starts.
    for (const char *name : {"reader", "saver0", "saver1"})
        wait_for_file(dir.file(name) + ".started");
    touch(go);
    sleep_ms(static_cast<int>(run_ms));
    touch(stop);
    for (child_process *child : children)
        wait_child(child);

    const std::string tmp = hosts + ".tmp";
    const std::string changed = hosts + " changed since it was loaded";
    const std::string other_save =
        "cannot open " + tmp + " for writing: another save of " + hosts + " is in progress";
    // On Windows the reader holds the file for a moment now and then.
    const std::string held_prefixes[] = {
        "rename " + tmp + " -> " + hosts + " failed: ", "cannot open " + hosts + ": ",
        "not replacing " + hosts + ": its last load failed"};
    int saved = 0, refused_changed = 0, refused_busy = 0, refused_held = 0;
    std::set<std::string> saved_names;
    for (int id = 0; id < 2; ++id) {
        for (const std::string &line : lines_of(dir.file("saver" + std::to_string(id)))) {
            std::istringstream fields(line);
            int round = 0, rc = 0;
            fields >> round >> rc;
            std::string error;
            std::getline(fields >> std::ws, error);
            if (rc == 1) {
                ++saved;
                saved_names.insert(stress_name(id, round));
                continue;
            }
            bool held = std::any_of(std::begin(held_prefixes), std::end(held_prefixes),
                                    [&](const std::string &p) { return error.rfind(p, 0) == 0; });
            refused_changed += error == changed;
            refused_busy += error == other_save;
            refused_held += held;
            EXPECT_TRUE(error == changed || error == other_save || held)
                << "saver " << id << " round " << round << ": " << rc << " " << error;
        }
    }
    std::set<std::string> final_names;
    EXPECT_TRUE(stress_names(read_bytes(hosts), final_names)) << "the final file is not whole";
    EXPECT_EQ(final_names, saved_names) << "a successful save is missing, or a refused one landed";
    EXPECT_FALSE(fs::exists(tmp));

    const std::vector<std::string> reader = lines_of(dir.file("reader"));
    ASSERT_FALSE(reader.empty());
    long reads = 0, incomplete = 0, unopened = 0;
    std::istringstream(reader[0]) >> reads >> incomplete >> unopened;
    EXPECT_GT(reads, 0);
    EXPECT_EQ(incomplete, 0) << "reads that saw no complete version";
    for (std::size_t i = 1; i < reader.size(); ++i)
        EXPECT_EQ(saved_names.count(reader[i]), 1u) << "the reader saw " << reader[i];

    std::printf(
        "%lld ms (one save %lld ms): %d saves: %d saved, %d changed since loaded, "
        "%d another save in progress, %d file held; %ld reads, %ld incomplete, "
        "%ld could not open\n",
        run_ms, save_ms, saved + refused_changed + refused_busy + refused_held, saved,
        refused_changed, refused_busy, refused_held, reads, incomplete, unopened);
    EXPECT_GT(saved, 0);
    EXPECT_GT(refused_changed, 0) << "the savers never met: nothing was tested";
}

// A save holding the lock in another process makes a save here wait its
// 2 s for it and give up, with nothing changed; once that save is killed
// its left-over temporary file is no obstacle.
TEST_F(ConcurrencyTest, HeldLockWaitsThenFailsAndAKilledHolderBlocksNothing) {
    TempDir dir;
    const std::string hosts = dir.file("hosts"), tmp = hosts + ".tmp";
    write_bytes(hosts, "1.1.1.1 old\n");
    child_guard holder{
        start_child(program_file("qh_save_worker"), {"lock", hosts, dir.file("locked")})};
    ASSERT_NE(holder.child, nullptr);
    wait_for_file(dir.file("locked"));
    if (HasFatalFailure())
        return;

    hosts_set_path(hosts.c_str());
    ASSERT_EQ(hosts_load(), 1);
    ASSERT_EQ(hosts_add("2.2.2.2", "new", nullptr), 1);
    paced = native_system;
    paced.clock_ms = paced_clock;
    paced.sleep_ms = paced_sleep;
    paced_now_ms = 1000000;
    paused_ms = 0;
    s_hooks.system = &paced;
    EXPECT_EQ(hosts_save(), -1);
    restore_native_hooks();
    EXPECT_EQ(hosts_last_error(),
              "cannot open " + tmp + " for writing: another save of " + hosts + " is in progress");
    EXPECT_EQ(paused_ms, 2000);
    EXPECT_EQ(read_bytes(hosts), "1.1.1.1 old\n");

    holder.stop();
    EXPECT_TRUE(fs::exists(tmp)) << "the killed save left no temporary file: nothing tested";
    EXPECT_EQ(hosts_save(), 1) << hosts_last_error();
    EXPECT_EQ(read_bytes(hosts), "1.1.1.1 old\n2.2.2.2 new\n");
    EXPECT_FALSE(fs::exists(tmp));
}
