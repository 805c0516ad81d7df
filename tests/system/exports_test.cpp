// Loads the built shared library as a host application would and checks that
// every function is exported under its plain name and works through it.
#include <cstring>
#include <string>

#include "quendral-hosts.h"
#include "support/os_support.h"
#include "support/test_support.h"

namespace {

const char *const k_exports[] = {
    "hosts_set_path", "hosts_version", "hosts_last_error", "hosts_count",
    "hosts_load",     "hosts_get",     "hosts_add",        "hosts_set_enabled",
    "hosts_remove",   "hosts_save",    "hosts_flush_dns",
};

template <typename Fn>
Fn symbol(void *library, const char *name) {
    return reinterpret_cast<Fn>(find_symbol(library, name));
}

}  // namespace

TEST(Exports, EveryFunctionIsExportedAndCallable) {
    void *library = open_library(library_file());
    ASSERT_NE(library, nullptr) << library_file();
    for (const char *name : k_exports)
        EXPECT_NE(find_symbol(library, name), nullptr) << name;
    EXPECT_EQ(find_symbol(library, "set_err"), nullptr);
    EXPECT_EQ(find_symbol(library, "add_record"), nullptr);

    auto last_error = symbol<decltype(&hosts_last_error)>(library, "hosts_last_error");
    auto version = symbol<decltype(&hosts_version)>(library, "hosts_version");
    auto count = symbol<decltype(&hosts_count)>(library, "hosts_count");
    auto set_path = symbol<decltype(&hosts_set_path)>(library, "hosts_set_path");
    auto load = symbol<decltype(&hosts_load)>(library, "hosts_load");
    auto get = symbol<decltype(&hosts_get)>(library, "hosts_get");
    auto add = symbol<decltype(&hosts_add)>(library, "hosts_add");
    auto save = symbol<decltype(&hosts_save)>(library, "hosts_save");

    // A freshly loaded library starts with empty state.
    ASSERT_NE(last_error(), nullptr);
    EXPECT_STREQ(last_error(), "");
    EXPECT_EQ(count(), 0);
    EXPECT_STREQ(version(), "1.0.0");

    TempDir dir;
    std::string hosts = dir.file("hosts");
    write_bytes(hosts, "127.0.0.1 localhost # loop\n");
    ASSERT_EQ(set_path(hosts.c_str()), 1);
    ASSERT_EQ(load(), 1);
    EXPECT_STREQ(
        get(0), "{\"ip\":\"127.0.0.1\",\"name\":\"localhost\",\"enabled\":1,\"comment\":\"loop\"}");
    EXPECT_EQ(add("bad", "x", nullptr), -1);
    EXPECT_STREQ(last_error(), "invalid ip: 'bad'");
    EXPECT_EQ(add("::1", "six", nullptr), 1);
    ASSERT_EQ(save(), 1) << last_error();
    EXPECT_EQ(read_bytes(hosts), "127.0.0.1 localhost # loop\n::1 six\n");
    std::string too_long(8192, 'p');
    EXPECT_EQ(set_path(too_long.c_str()), -1);
    EXPECT_STREQ(last_error(), "path too long");

    // A missing file loads as empty tables.
    ASSERT_EQ(set_path(dir.file("absent").c_str()), 1);
    ASSERT_EQ(load(), 1);
    EXPECT_EQ(count(), 0);
    close_library(library);
}
