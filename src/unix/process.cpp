// Starting the system's own programs, never through PATH.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "internal.h"

extern char **environ;

namespace platform {

// The first of `candidates` that is an executable file, or null.
const char *find_program(const char *const *candidates, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (::access(candidates[i], X_OK) == 0)
            return candidates[i];
    }
    return nullptr;
}

// Runs `program` with `argv`, output discarded, and waits for it: its exit
// code, 128 + the signal that ended it, or -1 when it could not be started.
int run_quietly(const char *program, char *const argv[]) {
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

}  // namespace platform
