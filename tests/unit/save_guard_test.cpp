// What guards a save besides the temporary file: the hash the content is
// remembered by, the check that the file did not change since the load,
// and the waiting for other saves and for programs holding the file.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "hooks.h"
#include "hosts_internal.h"
#include "last_load.h"
#include "support/os_support.h"
#include "support/test_support.h"

namespace {

std::uint64_t hash_of(const std::string &bytes) {
    content_hash hash;
    hash.add(bytes.data(), bytes.size());
    return hash.value();
}

}  // namespace

TEST(ContentHash, IsXxHash64AtAnyPieceSize) {
    EXPECT_EQ(hash_of(""), 0xef46db3751d8e999ULL);
    EXPECT_EQ(hash_of("a"), 0xd24ec4f1a98c6e5bULL);
    EXPECT_EQ(hash_of("abc"), 0x44bc2cf5ad770999ULL);
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += static_cast<char>('!' + i * 7 % 90);
    const std::uint64_t whole = hash_of(text);
    for (std::size_t piece : {1, 3, 31, 32, 33, 1000}) {
        content_hash hash;
        for (std::size_t at = 0; at < text.size(); at += piece)
            hash.add(text.data() + at, std::min(piece, text.size() - at));
        EXPECT_EQ(hash.value(), whole) << "pieces of " << piece;
        EXPECT_EQ(hash.size(), text.size());
    }
    text[1234] ^= 1;
    EXPECT_NE(hash_of(text), whole);
}

using ChangeTest = HostsTest;

namespace {

const char k_old[] = "1.1.1.1 a\n";

void set_time(const std::string &path, fs::file_time_type when) {
    fs::last_write_time(path, when);
}

}  // namespace

// Load, let another program act on the file, add a record, save.
TEST_F(ChangeTest, SaveRefusesAFileChangedSinceTheLoad) {
    const struct {
        const char *what;
        bool exists_at_load;
        void (*meddle)(const std::string &hosts);
        bool saves;
    } cases[] = {
        {"nothing happened", true, [](const std::string &) {}, true},
        {"appended line", true,
         [](const std::string &h) {
             write_bytes(h, std::string(k_old) + "192.168.1.20 host.docker.internal\n");
         },
         false},
        {"same-size edit, same time stamp", true,
         [](const std::string &h) {
             const auto stamp = fs::last_write_time(h);
             write_bytes(h, "1.1.1.2 a\n");
             set_time(h, stamp);
         },
         false},
        {"file deleted", true, [](const std::string &h) { fs::remove(h); }, false},
        {"touched but unchanged", true,
         [](const std::string &h) {
             write_bytes(h, k_old);
             set_time(h, fs::last_write_time(h) + std::chrono::seconds(10));
         },
         true},
        {"still absent", false, [](const std::string &) {}, true},
        {"created where none was", false,
         [](const std::string &h) { write_bytes(h, "5.5.5.5 other\n"); }, false},
        {"saved once before", true,
         [](const std::string &) {
             ASSERT_GE(hosts_add("7.7.7.7", "first", nullptr), 0);
             ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
         },
         true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(hosts);
        if (c.exists_at_load)
            write_bytes(hosts, k_old);
        ASSERT_EQ(hosts_load(), 1) << hosts_last_error();
        c.meddle(hosts);
        const bool present = fs::exists(hosts);
        const std::string before = present ? read_bytes(hosts) : "";
        ASSERT_GE(hosts_add("9.9.9.9", "mine", nullptr), 0);

        if (c.saves) {
            EXPECT_EQ(hosts_save(), 1) << hosts_last_error();
            EXPECT_NE(read_bytes(hosts).find("9.9.9.9 mine\n"), std::string::npos);
        } else {
            EXPECT_EQ(hosts_save(), -1);
            EXPECT_EQ(hosts_last_error(), hosts + " changed since it was loaded");
            EXPECT_EQ(fs::exists(hosts), present);
            if (present) {
                EXPECT_EQ(read_bytes(hosts), before);
            }
        }
        EXPECT_FALSE(fs::exists(hosts + ".tmp"));
    }
}

// Saving elsewhere than the last load (a new file, an export) checks
// nothing; coming back to the loaded path checks again.
TEST_F(ChangeTest, PathNeverLoadedSavesAsBefore) {
    const std::string other = dir.file("export");
    write_bytes(other, "3.3.3.3 there-before\n");
    load_text(k_old);
    ASSERT_EQ(hosts_set_path(other.c_str()), 1);
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    EXPECT_EQ(read_bytes(other), k_old);

    write_bytes(hosts, "2.2.2.2 changed\n");
    ASSERT_EQ(hosts_set_path(hosts.c_str()), 1);
    EXPECT_EQ(hosts_save(), -1);
    EXPECT_EQ(hosts_last_error(), hosts + " changed since it was loaded");
}

namespace {

// Makes `dir` the current folder for as long as it lives.
class in_folder {
public:
    explicit in_folder(const fs::path &dir) : before_(fs::current_path()) { fs::current_path(dir); }
    ~in_folder() { fs::current_path(before_); }
    in_folder(const in_folder &) = delete;
    in_folder &operator=(const in_folder &) = delete;

private:
    fs::path before_;
};

}  // namespace

// The guards belong to the file, not to the spelling of its path: a load
// through one spelling and a save through another are checked the same way
// as through one. Each guard is shown refusing, and letting an unchanged
// file be saved.
TEST_F(ChangeTest, GuardsHoldForEverySpellingOfTheFile) {
    ASSERT_TRUE(fs::create_directory(dir.file("sub")));
#if defined(_WIN32)
    // Under wine a link that the host system makes reads as a file of its
    // own, and Windows makes links only when elevated: links are tested on
    // Linux.
    const bool has_link = false;
#else
    const bool has_link = plant_link(hosts, dir.file("link"), true);
#endif
    const in_folder here(dir.path());
    const struct {
        const char *load;
        std::string save;
        bool needs_link;
    } spellings[] = {
        {"hosts", "./hosts", false},      {"./hosts", hosts, false},
        {"hosts", "sub/../hosts", false}, {"sub/../hosts", "hosts", false},
        {"hosts", "link", true},          {"link", hosts, true},
    };
    const std::string old_text = k_old;
    const char utf16_line[] = "1\0.\0001\0.\0001\0.\0001\0 \0a\0\n\0";
    const std::string utf16(utf16_line, sizeof utf16_line - 1);
    const struct {
        const char *what;
        const std::string *at_load;  // null: absent
        int load_rc;
        std::string meddled;  // "": left alone
        const char *error;    // null: the save goes through
    } guards[] = {
        {"unchanged", &old_text, 1, "", nullptr},
        {"still absent", nullptr, 1, "", nullptr},
        {"appended since the load", &old_text, 1, old_text + "5.5.5.5 other\n",
         " changed since it was loaded"},
        {"created since an absent load", nullptr, 1, "5.5.5.5 other\n",
         " changed since it was loaded"},
        {"last load failed", &utf16, -1, "", ": its last load failed"},
    };
    for (const auto &spelling : spellings) {
        if (spelling.needs_link && !has_link)
            continue;
        for (const auto &guard : guards) {
            SCOPED_TRACE(std::string(spelling.load) + " then " + spelling.save + ": " + guard.what);
            fs::remove(hosts);
            if (guard.at_load != nullptr)
                write_bytes(hosts, *guard.at_load);
            ASSERT_EQ(hosts_set_path(spelling.load), 1);
            ASSERT_EQ(hosts_load(), guard.load_rc) << hosts_last_error();
            if (!guard.meddled.empty())
                write_bytes(hosts, guard.meddled);
            const std::string before = fs::exists(hosts) ? read_bytes(hosts) : "(absent)";
            ASSERT_EQ(hosts_set_path(spelling.save.c_str()), 1);
            ASSERT_GE(hosts_add("9.9.9.9", "mine", nullptr), 0);
            const int rc = hosts_save();
            if (guard.error == nullptr) {
                EXPECT_EQ(rc, 1) << hosts_last_error();
                EXPECT_NE(read_bytes(hosts).find("9.9.9.9 mine\n"), std::string::npos);
                continue;
            }
            EXPECT_EQ(rc, -1);
            const std::string error = hosts_last_error();
            if (guard.load_rc == -1)
                EXPECT_EQ(error, "not replacing " + spelling.save + guard.error);
            else
                EXPECT_EQ(error, spelling.save + guard.error);
            EXPECT_EQ(read_bytes(hosts), before);
            EXPECT_FALSE(fs::exists(hosts + ".tmp"));
        }
    }
    ASSERT_EQ(hosts_set_path(hosts.c_str()), 1);
}

namespace {

std::string meddled_hosts;

// Another program appends a line while the save writes and flushes its
// temporary file.
int sync_while_another_appends(qh_file *file, sys_error *err) {
    write_bytes(meddled_hosts, read_bytes(meddled_hosts) + "10.0.0.9 appended.by.vpn\n");
    return native_file_methods.sync(file, err);
}

}  // namespace

// The check runs after the temporary file is written and flushed, just
// before the replace: a change made while the save writes is caught, not
// overwritten.
TEST_F(ChangeTest, ChangeWhileTheSaveWritesIsCaught) {
    load_text(k_old);
    ASSERT_GE(hosts_add("9.9.9.9", "mine", nullptr), 0);
    meddled_hosts = hosts;
    qh_file_methods meddling = native_file_methods;
    meddling.sync = sync_while_another_appends;
    s_hooks.files = &meddling;
    const int rc = hosts_save();
    restore_native_hooks();

    EXPECT_EQ(rc, -1);
    EXPECT_EQ(hosts_last_error(), hosts + " changed since it was loaded");
    EXPECT_EQ(read_bytes(hosts), std::string(k_old) + "10.0.0.9 appended.by.vpn\n");
    EXPECT_FALSE(fs::exists(hosts + ".tmp"));
}

TEST_F(ChangeTest, SaveAfterAFailedLoadIsRefusedUntilALoadWorks) {
    const std::string big = "# a file too big for the memory left\n1.1.1.1 a\n";
    write_bytes(hosts, big);
    const qh_memory no_memory = {
        .resize = [](void *, std::size_t, std::size_t) -> void * { return nullptr; },
        .release = native_memory.release,
    };
    s_hooks.memory = &no_memory;
    ASSERT_EQ(hosts_load(), -1);
    restore_native_hooks();
    ASSERT_EQ(hosts_add("9.9.9.9", "only", nullptr), 0);
    EXPECT_EQ(hosts_save(), -1);
    EXPECT_EQ(hosts_last_error(), "not replacing " + hosts + ": its last load failed");
    EXPECT_EQ(read_bytes(hosts), big);
    EXPECT_FALSE(fs::exists(hosts + ".tmp"));

    ASSERT_EQ(hosts_load(), 1);
    ASSERT_GE(hosts_add("9.9.9.9", "only", nullptr), 0);
    EXPECT_EQ(hosts_save(), 1) << hosts_last_error();
}

namespace {

// A clock that moves only when the save pauses, and a file held up by
// another process until that clock reaches `busy_until_ms`.
qh_system slow;
qh_file_methods slow_files;
long long fake_now_ms;
long long busy_until_ms;
std::vector<int> pauses;

long long fake_clock() {
    return fake_now_ms;
}
void fake_sleep(int ms) {
    pauses.push_back(ms);
    fake_now_ms += ms;
}
bool still_held() {
    return fake_now_ms < busy_until_ms;
}
void held(sys_error *err) {
    std::snprintf(err->text, sizeof err->text, "held");
}

file_status held_create(const char *tmp, const char *target, qh_file **file, sys_error *err) {
    if (still_held()) {
        held(err);
        return FILE_BUSY;
    }
    return native_system.create_temp(tmp, target, file, err);
}
file_status held_open(const char *path, qh_file **file, sys_error *err) {
    if (still_held()) {
        held(err);
        return FILE_BUSY;
    }
    return native_system.open_current(path, file, err);
}
file_status held_probe(const char *path, sys_error *err) {
    if (still_held()) {
        held(err);
        return FILE_BUSY;
    }
    return native_system.probe(path, err);
}
file_status held_replace(qh_file *file, const char *tmp, const char *target, sys_error *err) {
    if (still_held()) {
        held(err);
        return FILE_BUSY;
    }
    return native_file_methods.replace(file, tmp, target, err);
}
file_status read_only_probe(const char *, sys_error *err) {
    std::snprintf(err->text, sizeof err->text, "read-only");
    return FILE_FAILED;
}

int total(const std::vector<int> &ms) {
    int sum = 0;
    for (int m : ms)
        sum += m;
    return sum;
}

}  // namespace

using WaitTest = HostsTest;

// Another save holds the lock for 2 s or more, or a scanner holds the file
// for 1 s or more (Windows): the save waits with growing pauses, then
// fails as documented; held for less, it waits and succeeds. A read-only
// file fails at once.
TEST_F(WaitTest, WaitsWithGrowingPausesWithinItsBudget) {
    const std::string tmp = hosts + ".tmp";
    const std::string other_save =
        "cannot open " + tmp + " for writing: another save of " + hosts + " is in progress";
    const std::string rename_failed = "rename " + tmp + " -> " + hosts + " failed: held";
    const struct {
        const char *what;
        void (*hold)(qh_system &, qh_file_methods &);
        long long held_ms;
        int waited_ms;  // the budget, when the save fails
        std::string error;
    } cases[] = {
        {"other save, 2.5 s", [](qh_system &p, qh_file_methods &) { p.create_temp = held_create; },
         2500, 2000, other_save},
        {"other save, 0.3 s", [](qh_system &p, qh_file_methods &) { p.create_temp = held_create; },
         300, 0, ""},
        {"check, 5 s", [](qh_system &p, qh_file_methods &) { p.open_current = held_open; }, 5000,
         1000, "cannot open " + hosts + ": held"},
        {"probe, 5 s", [](qh_system &p, qh_file_methods &) { p.probe = held_probe; }, 5000, 1000,
         rename_failed},
        {"probe, 0.3 s", [](qh_system &p, qh_file_methods &) { p.probe = held_probe; }, 300, 0, ""},
        {"replace, 5 s", [](qh_system &, qh_file_methods &f) { f.replace = held_replace; }, 5000,
         1000, rename_failed},
        {"replace, 0.3 s", [](qh_system &, qh_file_methods &f) { f.replace = held_replace; }, 300,
         0, ""},
        {"read-only", [](qh_system &p, qh_file_methods &) { p.probe = read_only_probe; }, 0, 0,
         "rename " + tmp + " -> " + hosts + " failed: read-only"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        load_text(k_old);
        ASSERT_GE(hosts_add("9.9.9.9", "mine", nullptr), 0);
        slow = native_system;
        slow_files = native_file_methods;
        slow.clock_ms = fake_clock;
        slow.sleep_ms = fake_sleep;
        c.hold(slow, slow_files);
        fake_now_ms = 1000000;
        busy_until_ms = fake_now_ms + c.held_ms;
        pauses.clear();
        s_hooks.system = &slow;
        s_hooks.files = &slow_files;
        const int rc = hosts_save();
        restore_native_hooks();

        EXPECT_EQ(rc, c.error.empty() ? 1 : -1);
        EXPECT_EQ(hosts_last_error(), c.error);
        EXPECT_EQ(read_bytes(hosts), c.error.empty() ? "1.1.1.1 a\n9.9.9.9 mine\n" : k_old);
        EXPECT_FALSE(fs::exists(tmp));
        const int waited = total(pauses);
        if (c.error.empty()) {
            EXPECT_TRUE(waited >= c.held_ms && waited < c.held_ms + 50) << waited << " ms";
        } else {
            EXPECT_EQ(waited, c.waited_ms);
        }
        for (std::size_t i = 1; i < pauses.size(); ++i)
            EXPECT_TRUE(pauses[i] >= pauses[i - 1] || i + 1 == pauses.size())
                << "pause " << i << " of " << pauses.size();
        if (pauses.size() > 3) {
            EXPECT_LT(pauses[0], pauses[3]) << "the pauses do not grow";
        }
    }
}

// The system's clock, which times a real save's waits, keeps the steady
// clock's time to the millisecond: read between steady readings on both
// sides of a pause, it neither runs ahead (a coarse tick would end a wait
// early) nor falls behind. The brackets hold however long the machine
// keeps the test from running.
TEST_F(WaitTest, SystemClockCountsMilliseconds) {
    using steady = std::chrono::steady_clock;
    auto ms_between = [](steady::time_point from, steady::time_point to) {
        return std::chrono::duration<double, std::milli>(to - from).count();
    };
    for (int round = 0; round < 3; ++round) {
        for (int pause : {0, 1, 2, 5, 10, 16, 20, 50}) {
            const steady::time_point a = steady::now();
            const long long start = native_system.clock_ms();
            const steady::time_point b = steady::now();
            native_system.sleep_ms(pause);
            const steady::time_point c = steady::now();
            const long long end = native_system.clock_ms();
            const steady::time_point d = steady::now();
            const double counted = static_cast<double>(end - start);
            EXPECT_GE(counted, ms_between(b, c) - 1) << "a pause of " << pause << " ms";
            EXPECT_LE(counted, ms_between(a, d) + 1) << "a pause of " << pause << " ms";
        }
    }
}

// A load meets the file held for a moment (a save replacing it on Windows,
// writing it in place on Linux): it waits with the same growing pauses as a
// save, about a second in all, then fails as before.
TEST_F(WaitTest, LoadWaitsForAFileHeldForAMoment) {
    const struct {
        long long held_ms;
        int rc;
    } cases[] = {{300, 1}, {5000, -1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.held_ms);
        write_bytes(hosts, k_old);
        slow = native_system;
        slow.clock_ms = fake_clock;
        slow.sleep_ms = fake_sleep;
        slow.open_current = held_open;
        fake_now_ms = 1000000;
        busy_until_ms = fake_now_ms + c.held_ms;
        pauses.clear();
        s_hooks.system = &slow;
        const int rc = hosts_load();
        restore_native_hooks();

        EXPECT_EQ(rc, c.rc) << hosts_last_error();
        const int waited = total(pauses);
        if (c.rc == 1) {
            EXPECT_EQ(records_json(), std::vector<std::string>{json("1.1.1.1", "a", 1)});
            EXPECT_TRUE(waited >= c.held_ms && waited < c.held_ms + 50) << waited << " ms";
        } else {
            EXPECT_EQ(hosts_last_error(), "cannot open " + hosts + ": held");
            EXPECT_EQ(waited, 1000);
        }
        EXPECT_LT(pauses.front(), pauses.back()) << "the pauses do not grow";
    }
}
