#pragma once
// Runs a probe with the file permissions of an ordinary user, also when the
// tests run as root (who reads any file and searches any folder): then in a
// child process that gives up root first. The probe answers with a string.
#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>

namespace testsupport {

// User and group "nobody".
inline constexpr uid_t kNobody = 65534;

// What `probe` returns: run here when the tests are not root, else in a child
// that became user and group kNobody. None when that child could not give
// up root or did not answer. The probe must not use test assertions (a
// child's failures would be lost): it returns what the test then checks.
inline std::optional<std::string> AsOrdinaryUser(const std::function<std::string()>& probe) {
    if (geteuid() != 0) return probe();
    int fds[2];
    if (pipe(fds) != 0) return std::nullopt;
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return std::nullopt;
    }
    if (pid == 0) {
        close(fds[0]);
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(2);
        const std::string answer = probe();
        for (std::size_t done = 0; done < answer.size();) {
            const ssize_t n = write(fds[1], answer.data() + done, answer.size() - done);
            if (n <= 0) _exit(3);
            done += std::size_t(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string answer;
    char buffer[512];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) answer.append(buffer, std::size_t(n));
    close(fds[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return answer;
}

}  // namespace testsupport
