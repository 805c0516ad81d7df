// The test programs' entry point. On Windows the C runtime turns every line
// feed written to a text-mode stdout into CR LF, and CTest, listing the
// cases, would take the CR as part of each name: stdout writes bytes as
// they are.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#endif

int main(int argc, char **argv) {
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
