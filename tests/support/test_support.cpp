#include "test_support.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>

#include "hooks.h"
#include "hosts_internal.h"
#include "last_load.h"

TempDir::TempDir() {
    std::random_device random;
    for (;;) {
        path_ = fs::temp_directory_path() / ("qh-test-" + std::to_string(random()));
        if (fs::create_directory(path_))
            break;
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string read_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

long long now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool file_exists(const std::string &path) {
    return std::ifstream(path).good();
}

void wait_for_file(const std::string &path) {
    const long long give_up = now_ms() + 60000;
    while (!file_exists(path) && now_ms() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_TRUE(file_exists(path)) << "no " << path;
}

std::vector<std::string> records_json() {
    std::vector<std::string> all;
    for (int i = 0; i < hosts_count(); ++i)
        all.emplace_back(hosts_get(i));
    return all;
}

std::vector<std::string> passthrough_lines() {
    return std::vector<std::string>(s_pass, s_pass + s_pass_count);
}

void HostsTest::SetUp() {
    restore_native_hooks();
    reset_lists();
    forget_load();
    hosts = dir.file("hosts");
    ASSERT_EQ(hosts_set_path(hosts.c_str()), 1);
}

void HostsTest::TearDown() {
    restore_native_hooks();
    reset_lists();
    forget_load();
    hosts_set_path(nullptr);
}

void HostsTest::load_text(const std::string &text) {
    write_bytes(hosts, text);
    ASSERT_EQ(hosts_load(), 1) << hosts_last_error();
}

std::string json(const std::string &ip, const std::string &name, int enabled,
                 const std::string &comment) {
    std::ostringstream out;
    out << "{\"ip\":\"" << ip << "\",\"name\":\"" << name << "\",\"enabled\":" << enabled
        << ",\"comment\":\"" << comment << "\"}";
    return out.str();
}
