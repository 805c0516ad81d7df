// Edits on the loaded records, run through the whole edit loop on a file in
// a temporary folder.
#include "edits.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "temp_folder.h"
#include "text.h"

namespace {

class EditsTest : public testing::Test {
protected:
    void SetUp() override {
        path_ = (folder_.path() / "hosts").string();
        opts_.file = path_.c_str();
        opts_.quiet = true;
        ASSERT_EQ(hosts_set_path(path_.c_str()), 1);
    }

    void TearDown() override { hosts_set_path(nullptr); }

    // Runs `edit` on a file holding `text`; returns the file afterwards.
    std::string edited(const std::string &text, const edit_fn &edit) {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << text;
        EXPECT_EQ(run_edit(opts_, edit), 0);
        return read_text(path_);
    }

    temp_folder folder_{"qhosts-edits-"};
    std::string path_;
    options opts_;
};

std::vector<target> targets_of(const std::vector<std::string> &words) {
    std::vector<target> targets;
    std::string error;
    EXPECT_TRUE(parse_targets(words, targets, error)) << error;
    return targets;
}

TEST_F(EditsTest, RemovalKeepsEveryOtherRecordAsItWas) {
    // Removing every other record of a table moves more records than the
    // table holds, one at a time, so the table is built again; removing the
    // last few moves nothing. Either way the kept records keep their order,
    // state and comment.
    std::string file;
    for (int i = 0; i < 10; ++i) {
        const std::string line = "10.0.0." + std::to_string(i) + " h" + std::to_string(i) +
                                 (i % 2 ? ".odd" : ".even") + (i % 3 ? "" : " # third");
        file += (i % 4 == 1 ? "# " : "") + line + "\n";
    }
    struct {
        std::vector<std::string> words;
        std::vector<int> removed;
    } cases[] = {
        {{"*.even"}, {0, 2, 4, 6, 8}},
        {{"h8.even", "h9.odd"}, {8, 9}},
        {{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {{"ip=10.0.0.0/29"}, {0, 1, 2, 3, 4, 5, 6, 7}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.words.front());
        std::string expected;
        std::istringstream lines(file);
        std::string line;
        for (int i = 0; std::getline(lines, line); ++i) {
            if (std::find(c.removed.begin(), c.removed.end(), i) == c.removed.end())
                expected += line + "\n";
        }
        EXPECT_EQ(edited(file, change_edit(targets_of(c.words), change::remove, false, false)),
                  expected);
    }
}

TEST(GlobTest, MatchesShellPatternsIgnoringCase) {
    const struct {
        const char *pattern;
        const char *text;
        bool matches;
    } cases[] = {
        {"*.dev.lan", "api.DEV.lan", true},
        {"*.dev.lan", "dev.lan", false},
        {"*", "", true},
        {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYbZ", false},
        {"?", "", false},
        {"h?.lan", "h1.lan", true},
        {"[a-c]x", "Bx", true},
        {"[!a-c]x", "dx", true},
        {"[!a-c]x", "ax", false},
        {"[]]", "]", true},
        {"[x", "[x", true},
        {"**a", "bba", true},
        {"*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(glob_match(c.pattern, c.text), c.matches) << c.pattern << " " << c.text;
}

}  // namespace
