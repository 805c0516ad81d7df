// Behaviour of the Windows platform layer, run under wine.
#include <windows.h>

#include <string>

#include "hosts_internal.h"
#include "platform.h"
#include "support/test_support.h"

using WindowsTest = HostsTest;

namespace {

void expect_save_refused(const std::string &hosts, const std::string &old_bytes) {
    ASSERT_EQ(hosts_add("1.2.3.4", "new", nullptr), 0);
    EXPECT_EQ(hosts_save(), -1);
    std::string prefix = "rename " + hosts + ".tmp -> " + hosts + " failed: ";
    EXPECT_EQ(std::string(hosts_last_error()).rfind(prefix, 0), 0u) << hosts_last_error();
    EXPECT_FALSE(fs::exists(hosts + ".tmp"));
    EXPECT_EQ(read_bytes(hosts), old_bytes);
}

}  // namespace

TEST_F(WindowsTest, DefaultPathIsTheSystemHostsFile) {
    EXPECT_STREQ(native_platform.default_path, "C:\\Windows\\System32\\drivers\\etc\\hosts");
}

TEST_F(WindowsTest, FileOpenElsewhereIsNotReplaced) {
    write_bytes(hosts, "1.1.1.1 old\n");
    HANDLE other = CreateFileA(hosts.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    expect_save_refused(hosts, "1.1.1.1 old\n");
    CloseHandle(other);
    ASSERT_EQ(hosts_save(), 1) << hosts_last_error();
    EXPECT_EQ(read_bytes(hosts), "1.2.3.4 new\n");
}

TEST_F(WindowsTest, ReadOnlyFileIsNotReplaced) {
    write_bytes(hosts, "1.1.1.1 old\n");
    ASSERT_TRUE(SetFileAttributesA(hosts.c_str(), FILE_ATTRIBUTE_READONLY));
    expect_save_refused(hosts, "1.1.1.1 old\n");
    SetFileAttributesA(hosts.c_str(), FILE_ATTRIBUTE_NORMAL);
}
