// The record decoder that ships with the library (quendral-hosts-record.h),
// which qhosts uses: every JSON string escape, keys in any order, UTF-8
// checked when asked for, every text the library itself writes, and the same
// results when the header is compiled as C99.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "quendral-hosts-record.h"
#include "quendral-hosts.h"

extern "C" int qh_c99_summary(const char *json, char *out, size_t size);

namespace {

// The record's fields, or the failure; freed at once.
struct decoded {
    bool ok = false;
    std::string ip, name, comment, why;
    int enabled = -1;
};

decoded decode(const char *text, bool utf8_only = false) {
    qh_record rec;
    decoded out;
    out.ok = (utf8_only ? qh_record_parse_utf8(text, &rec) : qh_record_parse(text, &rec)) == 1;
    if (out.ok) {
        out.ip = rec.ip;
        out.name = rec.name;
        out.enabled = rec.enabled;
        out.comment = rec.comment;
        qh_record_free(&rec);
    } else {
        out.why = rec.error ? rec.error : "";
    }
    return out;
}

struct decoded_case {
    const char *text;
    const char *ip;
    const char *name;
    int enabled;
    const char *comment;
};

TEST(RecordJsonTest, DecodesEveryEscapeAndAnyKeyOrder) {
    const decoded_case cases[] = {
        {R"({"ip":"10.0.0.1","name":"a.lan","enabled":1,"comment":""})", "10.0.0.1", "a.lan", 1,
         ""},
        {R"( { "comment" : "x" , "enabled" : 0 , "name" : "b" , "ip" : "::1" } )", "::1", "b", 0,
         "x"},
        {R"({"ip":"1","name":"n","enabled":1,"comment":"\"\\\/\b\f\n\r\t"})", "1", "n", 1,
         "\"\\/\b\f\n\r\t"},
        {R"({"ip":"1","name":"n","enabled":1,"comment":"\u0001\u00e9\u20AC\ud83d\ude00"})", "1",
         "n", 1, "\x01\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
        {"{\"ip\":\"1\",\"name\":\"n\",\"enabled\":1,\"comment\":\"caf\xe9\"}", "1", "n", 1,
         "caf\xe9"},
    };
    for (const decoded_case &c : cases) {
        SCOPED_TRACE(c.text);
        const decoded got = decode(c.text);
        ASSERT_TRUE(got.ok) << got.why;
        EXPECT_EQ(got.ip, c.ip);
        EXPECT_EQ(got.name, c.name);
        EXPECT_EQ(got.enabled, c.enabled);
        EXPECT_EQ(got.comment, c.comment);
    }
}

TEST(RecordJsonTest, RejectsWhatIsNotOneRecord) {
    const char *const cases[] = {
        R"({"ip":"1","name":"n","enabled":1})",
        R"({"ip":"1","name":"n","enabled":1,"comment":"","ip":"2"})",
        R"({"ip":"1","name":"n","enabled":1,"comment":"","extra":""})",
        R"({"ip":"1","name":"n","enabled":2,"comment":""})",
        R"({"ip":"1","name":"n","enabled":"1","comment":""})",
        R"({"ip":"1","name":"n","enabled":1,"comment":""} x)",
        R"({"ip":"1","name":"n","enabled":1,"comment":"\x"})",
        R"({"ip":"1","name":"n","enabled":1,"comment":"\u12"})",
        R"({"ip":"1","name":"n","enabled":1,"comment":"\ud83d"})",
        R"({"ip":"1","name":"n","enabled":1,"comment":"\ude00"})",
        R"({"ip":"1","name":"n","enabled":1,"comment":"\ud83d\u0041"})",
        "{\"ip\":\"1\",\"name\":\"n\",\"enabled\":1,\"comment\":\"a\tb\"}",
        R"({"ip":"1","name":"n","enabled":1,"comment":"open)",
        R"({"ip":"1","name":"n","enabled":1,"comment":""},)",
        R"({"ip":"1","name":"n","enabled":1,"comment":"a\u0000b"})",
        R"({"ip":"1","name":"n","enabled":01,"comment":""})",
        R"({"ip":"1","name":"n","enabled":1.0,"comment":""})",
        "",
    };
    for (const char *text : cases) {
        SCOPED_TRACE(text);
        const decoded got = decode(text);
        EXPECT_FALSE(got.ok);
        EXPECT_FALSE(got.why.empty());
    }
    qh_record rec;
    EXPECT_EQ(qh_record_parse(nullptr, &rec), -1);
    EXPECT_STREQ(rec.error, "no text");
}

TEST(RecordJsonTest, AsksForUtf8OnlyWhenTold) {
    const char *const broken[] = {
        "caf\xe9", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82",
    };
    for (const char *bytes : broken) {
        SCOPED_TRACE(bytes);
        const std::string text =
            std::string(R"({"ip":"1","name":"n","enabled":1,"comment":")") + bytes + "\"}";
        const decoded got = decode(text.c_str());
        EXPECT_TRUE(got.ok) << got.why;
        EXPECT_EQ(got.comment, bytes);
        const decoded strict = decode(text.c_str(), true);
        EXPECT_FALSE(strict.ok);
        EXPECT_EQ(strict.why, "invalid UTF-8");
        EXPECT_FALSE(qh_record_is_utf8(bytes, std::char_traits<char>::length(bytes)));
    }
    const std::string good = "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80";
    const std::string text = R"({"ip":"1","name":"n","enabled":1,"comment":")" + good + "\"}";
    const decoded got = decode(text.c_str(), true);
    EXPECT_TRUE(got.ok) << got.why;
    EXPECT_EQ(got.comment, good);
    EXPECT_TRUE(qh_record_is_utf8(good.data(), good.size()));
}

// Every byte a comment can hold, as the library escapes it (\" \\ \t \r
// \u00XX, and bytes of 0x80 and above as they are), comes back whole.
TEST(RecordJsonTest, DecodesEveryTextTheLibraryWrites) {
    std::string every;
    for (int c = 1; c < 256; ++c) {
        if (c != '\n' && c != '\r')
            every.push_back(static_cast<char>(c));
    }
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "qhosts-record-header-test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "hosts").string();
    std::FILE *file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    // A CR inside a line is kept, so the library escapes it too.
    std::fputs("10.0.0.1 a.lan # x\ry\n# fd00::1 B-b_c.lan # \"off\"\n", file);
    std::fclose(file);
    ASSERT_EQ(hosts_set_path(path.c_str()), 1);
    ASSERT_EQ(hosts_load(), 1);
    ASSERT_EQ(hosts_add("10.0.0.2", "every.lan", every.c_str()), 2);
    const decoded expected[] = {
        {true, "10.0.0.1", "a.lan", "x\ry", "", 1},
        {true, "fd00::1", "B-b_c.lan", "\"off\"", "", 0},
        {true, "10.0.0.2", "every.lan", every, "", 1},
    };
    for (int index = 0; index < 3; ++index) {
        SCOPED_TRACE(index);
        const char *text = hosts_get(index);
        const decoded got = decode(text);
        ASSERT_TRUE(got.ok) << got.why << ": " << text;
        EXPECT_EQ(got.ip, expected[index].ip);
        EXPECT_EQ(got.name, expected[index].name);
        EXPECT_EQ(got.enabled, expected[index].enabled);
        EXPECT_EQ(got.comment, expected[index].comment);
        // The same header compiled as C99 decodes the same.
        char summary[1024];
        ASSERT_EQ(qh_c99_summary(text, summary, sizeof summary), 1);
        EXPECT_EQ(std::string(summary),
                  got.ip + "|" + got.name + "|" + std::to_string(got.enabled) + "|" + got.comment);
    }
    hosts_set_path(nullptr);
    std::filesystem::remove_all(folder);
}

}  // namespace
