// Shared helpers for the tests: a scratch folder per test, file contents,
// and a fixture that points the library at a hosts file inside that folder.
#ifndef QH_TEST_SUPPORT_H
#define QH_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const fs::path &path() const { return path_; }
    std::string file(const std::string &name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

std::string read_bytes(const std::string &path);
void write_bytes(const std::string &path, const std::string &bytes);

// For tests with other processes: a steady clock, and a wait for a file a
// helper process creates when it is ready (at most a minute, far beyond any
// start-up, even of a sanitized program under wine).
long long now_ms();
bool file_exists(const std::string &path);
void wait_for_file(const std::string &path);

// The records and passthrough lines the library holds now.
std::vector<std::string> records_json();
std::vector<std::string> passthrough_lines();

// Resets the library's state and points it at `hosts` in a fresh folder.
class HostsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Writes `text` as the hosts file and loads it; asserts the load worked.
    void load_text(const std::string &text);

    TempDir dir;
    std::string hosts;
};

// Builds the JSON text hosts_get gives for a record.
std::string json(const std::string &ip, const std::string &name, int enabled,
                 const std::string &comment = "");

#endif
