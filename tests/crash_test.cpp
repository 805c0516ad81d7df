// Kills a process in the middle of saving, again and again: the hosts file
// must always hold one complete content, never a mix, a prefix or nothing.
#include <random>
#include <string>

#include "crash_content.h"
#include "support/os_support.h"
#include "support/test_support.h"

TEST(CrashTest, KilledSavesLeaveOldOrNewContent) {
    TempDir dir;
    const std::string hosts = dir.file("hosts");
    const std::string old_content = crash_file("old");
    const std::string new_content = crash_file("new");
    write_bytes(hosts, old_content);

#if defined(_WIN32)
    const int kills = 12, min_ms = 200, max_ms = 1500;  // a program starts slowly under wine
#else
    const int kills = 40, min_ms = 0, max_ms = 400;
#endif
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> delay(min_ms, max_ms);
    int saw_new = 0;
    for (int k = 0; k < kills; ++k) {
        child_process *child = start_child(program_file("qh_crash_saver"), {hosts});
        ASSERT_NE(child, nullptr);
        sleep_ms(delay(random));
        kill_child(child);
        wait_child(child);
        ASSERT_TRUE(fs::exists(hosts)) << "hosts file missing after kill " << k;
        std::string content = read_bytes(hosts);
        ASSERT_TRUE(content == old_content || content == new_content)
            << "kill " << k << " left " << content.size() << " bytes";
        saw_new += content == new_content;
    }
    EXPECT_GT(saw_new, 0) << "no save ever completed: the kills did not test anything";
}
