// The record decoder that qhosts and the fuzz targets share: every JSON
// string escape, keys in any order, and UTF-8 checked when asked for.
#include "record_json.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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
        record got;
        std::string why;
        ASSERT_TRUE(decode_record_json(c.text, json_bytes::any, got, why)) << why;
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
        "",
    };
    for (const char *text : cases) {
        SCOPED_TRACE(text);
        record got;
        std::string why;
        EXPECT_FALSE(decode_record_json(text, json_bytes::any, got, why));
        EXPECT_FALSE(why.empty());
    }
}

TEST(RecordJsonTest, AsksForUtf8OnlyWhenTold) {
    const char *const broken[] = {
        "caf\xe9", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82",
    };
    for (const char *bytes : broken) {
        SCOPED_TRACE(bytes);
        const std::string text =
            std::string(R"({"ip":"1","name":"n","enabled":1,"comment":")") + bytes + "\"}";
        record got;
        std::string why;
        EXPECT_TRUE(decode_record_json(text.c_str(), json_bytes::any, got, why)) << why;
        EXPECT_EQ(got.comment, bytes);
        EXPECT_FALSE(decode_record_json(text.c_str(), json_bytes::utf8, got, why));
        EXPECT_NE(why.find("invalid UTF-8"), std::string::npos) << why;
        EXPECT_FALSE(is_utf8(bytes, std::char_traits<char>::length(bytes)));
    }
    const std::string good = "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80";
    const std::string text = R"({"ip":"1","name":"n","enabled":1,"comment":")" + good + "\"}";
    record got;
    std::string why;
    EXPECT_TRUE(decode_record_json(text.c_str(), json_bytes::utf8, got, why)) << why;
    EXPECT_EQ(got.comment, good);
    EXPECT_TRUE(is_utf8(good.data(), good.size()));
}

}  // namespace
