// The file operations qhosts does itself: restore's replace and the copies
// it keeps, on files in a temporary folder.
#include "files.h"

#include <gtest/gtest.h>

#include "temp_folder.h"

namespace {

class FilesTest : public testing::Test {
protected:
    void SetUp() override {
        path_ = (folder_.path() / "hosts").string();
        std::ofstream(path_, std::ios::binary) << "old\n";
    }

    std::size_t files_in_folder() const {
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(folder_.path()),
                          std::filesystem::directory_iterator()));
    }

    temp_folder folder_{"qhosts-files-"};
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
    const std::string real = (folder_.path() / "real").string();
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
