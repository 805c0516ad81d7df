// Kills a process in the middle of saving, again and again: the hosts file
// must always hold one complete content, never a mix, a prefix or nothing,
// both after each kill and for a reader looking at it while saves run.
#include <atomic>
#include <random>
#include <string>
#include <thread>

#include "crash_content.h"
#include "support/os_support.h"
#include "support/test_support.h"

namespace {

// Reads the file over and over on its own thread and counts every read that
// saw something other than one of the two whole contents.
class ConcurrentReader {
public:
    ConcurrentReader(const std::string &path, const std::string &a, const std::string &b)
        : thread_([this, path, a, b] {
              while (!stop_) {
                  std::string content = read_bytes(path);
                  ++reads_;
                  if (content != a && content != b)
                      ++torn_;
              }
          }) {}
    ~ConcurrentReader() { finish(); }
    void finish() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    int reads() const { return reads_; }
    int torn() const { return torn_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> reads_{0};
    std::atomic<int> torn_{0};
    std::thread thread_;
};

}  // namespace

TEST(CrashTest, KilledSavesLeaveOldOrNewContent) {
    TempDir dir;
    const std::string hosts = dir.file("hosts");
    const std::string old_content = crash_file("old");
    const std::string new_content = crash_file("new");
    write_bytes(hosts, old_content);

#if defined(_WIN32)
    // A program starts slowly under wine. No reader here: on Windows an open
    // reader rightly makes the save refuse to replace the file.
    const int kills = 12, min_ms = 200, max_ms = 1500;
#else
    const int kills = 200, min_ms = 0, max_ms = 150;
    ConcurrentReader reader(hosts, old_content, new_content);
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
#if !defined(_WIN32)
    reader.finish();
    EXPECT_GT(reader.reads(), kills);
    EXPECT_EQ(reader.torn(), 0) << "of " << reader.reads() << " reads";
#endif
}
