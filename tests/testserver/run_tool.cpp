#include "tests/testserver/run_tool.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

ToolResult runTool(const std::vector<std::string>& argv, const std::string& input,
                   std::chrono::milliseconds deadline, const std::vector<std::string>& extraEnv) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> args = argv;
    std::vector<char*> cargs;
    for (auto& a : args)
        cargs.push_back(a.data());
    cargs.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> cenv;
    for (auto& e : env)
        cenv.push_back(e.data());
    cenv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, cargs[0], &actions, nullptr, cargs.data(), cenv.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (rc != 0) {
        ::close(in[1]);
        ::close(out[0]);
        ::close(err[0]);
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    }
    std::signal(SIGPIPE, SIG_IGN);
    // The clients read all input at once; small inputs fit the pipe buffer.
    [[maybe_unused]] ssize_t w = ::write(in[1], input.data(), input.size());
    ::close(in[1]);

    ToolResult result;
    const auto end = std::chrono::steady_clock::now() + deadline;
    int open = 2;
    bool killed = false;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            killed = true;
            break;
        }
        pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        if (::poll(fds, 2, int(left.count())) <= 0)
            continue;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP)))
                continue;
            char buf[65536];
            const ssize_t n = ::read(fds[k].fd, buf, sizeof buf);
            if (n > 0) {
                (k == 0 ? result.out : result.err).append(buf, std::size_t(n));
            } else {
                (k == 0 ? out[0] : err[0]) = -1 - (k == 0 ? out[0] : err[0]);
                --open;
            }
        }
        // Closed descriptors were marked negative above; keep polling the rest.
        if (out[0] < 0 && err[0] < 0)
            break;
    }
    ::close(out[0] < 0 ? -1 - out[0] : out[0]);
    ::close(err[0] < 0 ? -1 - err[0] : err[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!killed && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    return result;
}

int countOf(const std::string& text, const std::string& needle) {
    int n = 0;
    for (std::size_t p = text.find(needle); p != std::string::npos;
         p = text.find(needle, p + needle.size()))
        ++n;
    return n;
}
