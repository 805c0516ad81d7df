// Stands in for ipconfig.exe in the tests of the fallback flush. It writes
// to QH_STAND_IN_REPORT what it was given: its arguments, whether the
// handle whose value is in QH_STAND_IN_HANDLE reached it (it names a file
// whose name ends in QH_STAND_IN_MARK), and what its output is. Then it
// exits with QH_STAND_IN_EXIT, or, without one, runs until the file
// QH_STAND_IN_RELEASE appears (a minute at most).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string env(const char *name) {
    char value[1024];
    DWORD len = GetEnvironmentVariableA(name, value, sizeof value);
    return len > 0 && len < sizeof value ? std::string(value, len) : std::string();
}

bool names_marked_file(HANDLE handle, const std::string &mark) {
    char name[1024];
    DWORD len = GetFinalPathNameByHandleA(handle, name, sizeof name, FILE_NAME_NORMALIZED);
    if (len == 0 || len >= sizeof name || mark.empty())
        return false;
    std::string text(name, len);
    return text.size() >= mark.size() &&
           text.compare(text.size() - mark.size(), mark.size(), mark) == 0;
}

}  // namespace

int main(int argc, char **argv) {
    auto handle =
        reinterpret_cast<HANDLE>(std::strtoull(env("QH_STAND_IN_HANDLE").c_str(), nullptr, 16));
    std::string args;
    for (int i = 1; i < argc; ++i)
        args += (i > 1 ? " " : "") + std::string(argv[i]);
    const DWORD output = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE));
    const std::string report = env("QH_STAND_IN_REPORT");
    const std::string tmp = report + ".part";
    if (std::FILE *out = std::fopen(tmp.c_str(), "wb")) {
        std::fprintf(out, "args=%s\ninherited=%d\noutput=%s\n", args.c_str(),
                     names_marked_file(handle, env("QH_STAND_IN_MARK")) ? 1 : 0,
                     output == FILE_TYPE_CHAR ? "char" : "other");
        std::fclose(out);
        MoveFileExA(tmp.c_str(), report.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    const std::string exit_code = env("QH_STAND_IN_EXIT");
    if (!exit_code.empty())
        return std::atoi(exit_code.c_str());
    const std::string release = env("QH_STAND_IN_RELEASE");
    for (int waited = 0; waited < 60000; waited += 10) {
        if (GetFileAttributesA(release.c_str()) != INVALID_FILE_ATTRIBUTES)
            break;
        Sleep(10);
    }
    return 0;
}
