// A folder of a test's own under the temporary folder, named after the
// test, made afresh and removed afterwards.
#ifndef QHOSTS_TESTS_TEMP_FOLDER_H
#define QHOSTS_TESTS_TEMP_FOLDER_H

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class temp_folder {
public:
    explicit temp_folder(const char *prefix) {
        const auto *info = testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() / (std::string(prefix) + info->name());
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    temp_folder(const temp_folder &) = delete;
    temp_folder &operator=(const temp_folder &) = delete;
    ~temp_folder() { std::filesystem::remove_all(path_); }

    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::string read_text(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

#endif
