#include "app/shell_open.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace vardane {

bool ShellOpener::Open(const std::string& path) const {
    if (path.empty()) {
        return false;
    }
    // Everything the child needs is prepared before fork: only async-signal
    // safe calls run between fork and exec.
    const char* argv[] = {Program.c_str(), path.c_str(), nullptr};
    pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        // Double fork: the opener is adopted by init, so nobody has to reap it
        // and the caller never waits for the program it starts.
        if (fork() != 0) {
            _exit(0);
        }
        setsid();
        int devNull = open("/dev/null", O_RDWR);
        if (devNull >= 0) {
            dup2(devNull, 0);
            dup2(devNull, 1);
            dup2(devNull, 2);
        }
        execvp(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace vardane
