// Runs part of a test as another user: the user and group nobody (65534),
// in a child process, so that the test itself keeps its ids. Needs root.
#ifndef TESTS_WORKBOOK_AS_NOBODY_H
#define TESTS_WORKBOOK_AS_NOBODY_H

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

// What `work` returned in the child; "cannot become nobody" when the child
// could not change its ids, "the child failed" when it did not end normally.
inline std::string AsNobody(const std::function<std::string()>& work) {
    int ends[2];
    if (pipe(ends) != 0) return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        std::string said = "cannot become nobody";
        if (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0) said = work();
        const bool sent = write(ends[1], said.data(), said.size()) == static_cast<ssize_t>(said.size());
        _exit(sent ? 0 : 1);
    }
    close(ends[1]);
    std::string said;
    char buffer[512];
    ssize_t n;
    while ((n = read(ends[0], buffer, sizeof buffer)) != 0) {
        if (n > 0)
            said.append(buffer, static_cast<size_t>(n));
        else if (errno != EINTR)
            break;
    }
    close(ends[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "the child failed";
    return said;
}

#endif
