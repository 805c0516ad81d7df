#include "files.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

bool make_temp_file(std::string &path) {
#if defined(_WIN32)
    char dir[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof dir, dir);
    if (length == 0 || length > sizeof dir)
        return false;
    char name[MAX_PATH + 1];
    if (GetTempFileNameA(dir, "qhs", 0, name) == 0)
        return false;
    path = name;
#else
    const char *dir = std::getenv("TMPDIR");
    std::string pattern = (dir && *dir) ? dir : "/tmp";
    pattern += "/qhosts-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0)
        return false;
    close(fd);
    path = buffer.data();
#endif
    return true;
}

bool copy_to_stdout(const std::string &path) {
    std::FILE *in = std::fopen(path.c_str(), "rb");
    if (!in)
        return false;
    char buffer[8192];
    bool ok = true;
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        if (std::fwrite(buffer, 1, n, stdout) != n) {
            ok = false;
            break;
        }
    }
    if (std::ferror(in))
        ok = false;
    std::fclose(in);
    return ok;
}
