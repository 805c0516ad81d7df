// The edit loop of qhosts when the save reports that another program changed
// the file since the load: the edit starts over on the new content. The save
// is a substitute that plays the other program and gives the library's
// refusal, so the loop is tested whatever the library under it detects.
#include "edit_session.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "edits.h"

namespace {

std::string s_path;
int s_loads = 0;
int s_saves = 0;
int s_refusals = 0;  // saves still to be refused
std::string s_refusal;
bool s_refused = false;

std::string read_text(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void append_text(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << text;
}

int QH_CALL counting_load() {
    ++s_loads;
    s_refused = false;
    return hosts_load();
}

// Another program adds a line between our load and our save, and the save
// is refused the way the library refuses it.
int QH_CALL contested_save() {
    ++s_saves;
    if (s_refusals > 0) {
        --s_refusals;
        append_text(s_path, "10.0.0." + std::to_string(100 + s_saves) + " web.lan\n");
        s_refused = true;
        return -1;
    }
    return hosts_save();
}

const char *QH_CALL refusal_or_library_error() {
    return s_refused ? s_refusal.c_str() : hosts_last_error();
}

const edit_calls k_contested = {
    .load = counting_load,
    .save = contested_save,
    .last_error = refusal_or_library_error,
};

class EditSessionTest : public testing::Test {
protected:
    void SetUp() override {
        const auto *info = testing::UnitTest::GetInstance()->current_test_info();
        folder_ =
            std::filesystem::temp_directory_path() / (std::string("qhosts-edit-") + info->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        s_path = (folder_ / "hosts").string();
        ASSERT_EQ(hosts_set_path(s_path.c_str()), 1);
        opts_.file = s_path.c_str();
        start();
    }

    // A fresh file holding one record, and no save refused so far.
    void start() {
        std::ofstream(s_path, std::ios::binary | std::ios::trunc) << "10.0.0.1 web.lan\n";
        s_loads = s_saves = s_refusals = 0;
        s_refusal = s_path + " changed since it was loaded";
    }

    void TearDown() override { std::filesystem::remove_all(folder_); }

    // Runs the edit; returns the exit code, with standard output and error.
    int run(const edit_fn &edit, std::string &out, std::string &err) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = run_edit(opts_, edit, k_contested);
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        return status;
    }

    std::filesystem::path folder_;
    options opts_;
};

TEST_F(EditSessionTest, EditIsAppliedAgainToTheChangedFile) {
    // set must also disable what the other program added meanwhile, which
    // only a fresh application of the edit can see.
    for (int refusals = 1; refusals < k_edit_attempts; ++refusals) {
        SCOPED_TRACE(refusals);
        start();
        s_refusals = refusals;
        std::string out, err;
        ASSERT_EQ(run(set_edit("10.0.0.5", {"web.lan"}, std::nullopt), out, err), 0) << err;
        EXPECT_EQ(s_loads, refusals + 1);
        EXPECT_EQ(s_saves, refusals + 1);
        EXPECT_EQ(err, "");
        std::string expected = "# 10.0.0.1 web.lan\n";
        for (int i = 1; i <= refusals; ++i)
            expected += "# 10.0.0." + std::to_string(100 + i) + " web.lan\n";
        expected += "10.0.0.5 web.lan\n";
        EXPECT_EQ(read_text(s_path), expected);
        EXPECT_EQ(out.substr(out.rfind('\n', out.size() - 2) + 1),
                  "added " + std::to_string(refusals + 1) + ": 10.0.0.5 web.lan\n");
    }
}

TEST_F(EditSessionTest, AddLandsOnceAfterRefusals) {
    s_refusals = 2;
    std::string out, err;
    ASSERT_EQ(run(add_edit("10.0.0.9", {"db.lan"}, std::nullopt), out, err), 0) << err;
    EXPECT_EQ(out, "added 3: 10.0.0.9 db.lan\n");
    EXPECT_EQ(read_text(s_path),
              "10.0.0.1 web.lan\n10.0.0.101 web.lan\n10.0.0.102 web.lan\n10.0.0.9 db.lan\n");
}

TEST_F(EditSessionTest, GivesUpAfterTheLastAttempt) {
    s_refusals = k_edit_attempts;
    std::string out, err;
    EXPECT_EQ(run(add_edit("10.0.0.9", {"db.lan"}, std::nullopt), out, err), 1);
    EXPECT_EQ(s_saves, k_edit_attempts);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "qhosts: " + s_refusal + "\n");
    EXPECT_EQ(read_text(s_path).find("db.lan"), std::string::npos);
}

TEST_F(EditSessionTest, OtherSaveErrorsAreNotRetried) {
    s_refusals = 1;
    s_refusal = "rename " + s_path + ".tmp -> " + s_path + " failed: busy";
    std::string out, err;
    EXPECT_EQ(run(add_edit("10.0.0.9", {"db.lan"}, std::nullopt), out, err), 1);
    EXPECT_EQ(s_saves, 1);
    EXPECT_EQ(err, "qhosts: " + s_refusal + "\n");
}

}  // namespace
