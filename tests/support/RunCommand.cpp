#include "support/RunCommand.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <thread>

extern char** environ;

namespace vantorel::testing {
namespace {

// Starts argv[0] with the current environment plus `env`, standard input empty, standard output
// to `outFd` and standard error to `errFd` (-1: discarded). The child's id, or -1.
pid_t spawnWith(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                int outFd, int errFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    if (errFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    else
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e)
        envStrings.emplace_back(*e);
    envStrings.insert(envStrings.end(), env.begin(), env.end());
    std::vector<char*> envp, args;
    for (auto& e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argvCopy = argv;
    for (auto& a : argvCopy)
        args.push_back(a.data());
    args.push_back(nullptr);

    pid_t pid = -1;
    int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

} // namespace

CommandResult runCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env) {
    CommandResult result;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0)
        return result;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    const pid_t pid = spawnWith(argv, env, outPipe[1], errPipe[1]);
    close(outPipe[1]);
    close(errPipe[1]);
    if (pid > 0) {
        pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
        std::string* sinks[2] = {&result.out, &result.err};
        int open = 2;
        while (open > 0 && poll(fds, 2, -1) > 0) {
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                char buf[8192];
                ssize_t n = read(fds[i].fd, buf, sizeof buf);
                if (n > 0) {
                    sinks[i]->append(buf, std::size_t(n));
                } else {
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (WIFEXITED(status))
            result.exitCode = WEXITSTATUS(status);
    }
    close(outPipe[0]);
    close(errPipe[0]);
    return result;
}

CommandResult runCli(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    std::vector<std::string> argv = {VANTOREL_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCommand(argv, env);
}

BackgroundCommand::BackgroundCommand(const std::vector<std::string>& argv,
                                     const std::vector<std::string>& env) {
    int outPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0)
        return;
    pid_ = spawnWith(argv, env, outPipe[1], -1);
    close(outPipe[1]);
    out_ = outPipe[0];
}

BackgroundCommand::~BackgroundCommand() {
    if (pid_ > 0)
        stop(SIGKILL);
    if (out_ >= 0)
        close(out_);
}

std::optional<std::string> BackgroundCommand::readLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (std::size_t end = pending_.find('\n'); end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd{out_, POLLIN, 0};
        if (out_ < 0 || left.count() <= 0 || poll(&fd, 1, int(left.count())) <= 0)
            return std::nullopt;
        char buf[4096];
        ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0)
            return std::nullopt;
        pending_.append(buf, std::size_t(n));
    }
}

int BackgroundCommand::stop(int signal) {
    if (pid_ <= 0)
        return -1;
    kill(pid_, signal);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace vantorel::testing
