// The file operations qhosts does itself: restore's replace and the copies
// it keeps, on files in a temporary folder.
#include "files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string read_text(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class FilesTest : public testing::Test {
protected:
    void SetUp() override {
        const auto *info = testing::UnitTest::GetInstance()->current_test_info();
        folder_ =
            std::filesystem::temp_directory_path() / (std::string("qhosts-files-") + info->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        path_ = (folder_ / "hosts").string();
        std::ofstream(path_, std::ios::binary) << "old\n";
    }

    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::size_t files_in_folder() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder_),
                                                      std::filesystem::directory_iterator()));
    }

    std::filesystem::path folder_;
    std::string path_;
};

TEST_F(FilesTest, ReplaceRefusesAFileChangedSinceItWasRead) {
    std::string error;
    EXPECT_FALSE(replace_contents(path_, "new\n", std::string("older\n"), error));
    EXPECT_EQ(error, path_ + " changed since it was loaded");
    EXPECT_FALSE(replace_contents(path_, "new\n", std::nullopt, error));
    EXPECT_EQ(read_text(path_), "old\n");
    EXPECT_EQ(files_in_folder(), 1u) << "a temporary file was left behind";

    ASSERT_TRUE(replace_contents(path_, "new\n", std::string("old\n"), error)) << error;
    EXPECT_EQ(read_text(path_), "new\n");
    EXPECT_EQ(files_in_folder(), 1u);
}

TEST_F(FilesTest, ReplaceCreatesAFileThatWasAbsent) {
    std::filesystem::remove(path_);
    std::string error;
    ASSERT_TRUE(replace_contents(path_, "new\n", std::nullopt, error)) << error;
    EXPECT_EQ(read_text(path_), "new\n");
}

TEST_F(FilesTest, CopyThatMustNotReplaceLeavesTheOldOne) {
    const std::string copy = path_ + ".orig";
    std::string error;
    EXPECT_EQ(write_copy("first\n", copy, path_, false, error), write_result::written) << error;
    EXPECT_EQ(write_copy("second\n", copy, path_, false, error), write_result::exists);
    EXPECT_EQ(read_text(copy), "first\n");
    EXPECT_EQ(write_copy("third\n", copy, path_, true, error), write_result::written) << error;
    EXPECT_EQ(read_text(copy), "third\n");
    EXPECT_EQ(files_in_folder(), 2u) << "a temporary file was left behind";
}

#if !defined(_WIN32)
TEST_F(FilesTest, ReplaceKeepsTheModeAndTheLink) {
    // The link stays a link; the file it leads to gets the bytes and keeps
    // its mode, set-group-ID bit included.
    const std::string real = (folder_ / "real").string();
    std::filesystem::rename(path_, real);
    std::filesystem::create_symlink("real", path_);
    std::filesystem::permissions(real, std::filesystem::perms(02640));
    std::string error;
    ASSERT_TRUE(replace_contents(path_, "new\n", std::string("old\n"), error)) << error;
    EXPECT_TRUE(std::filesystem::is_symlink(path_));
    EXPECT_EQ(read_text(real), "new\n");
    EXPECT_EQ(static_cast<int>(std::filesystem::status(real).permissions()), 02640);
}
#endif

}  // namespace
