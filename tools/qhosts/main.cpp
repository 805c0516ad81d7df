// qhosts: command-line front end for the quendral-hosts library.
#include <cstdio>

#include "commands.h"
#include "report.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char **argv) {
#if defined(_WIN32)
    // Text mode would turn each LF into CRLF; binary mode keeps --dry-run
    // output byte-identical to the file it shows, as on other systems.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    const int status = run(argc, argv);
    if ((std::fflush(stdout) != 0 || std::ferror(stdout)) && status == k_exit_ok) {
        report("cannot write output");
        return k_exit_failed;
    }
    return status;
}
