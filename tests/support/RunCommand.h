#pragma once
// Runs a program (usually the built vantorel-cli) and captures what it prints.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vantorel::testing {

struct CommandResult {
    int exitCode = -1; // -1: did not start or was killed by a signal
    std::string out;
    std::string err;
};

// `env` entries ("NAME=value") are added to the current environment. Standard input is empty.
CommandResult runCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {});

// runCommand with the built vantorel-cli as the program.
CommandResult runCli(const std::vector<std::string>& args,
                     const std::vector<std::string>& env = {});

// A program left running while the test goes on (a server, say), its standard output read
// line by line; its stderr is discarded. Killed and reaped at the latest when this goes.
class BackgroundCommand {
  public:
    explicit BackgroundCommand(const std::vector<std::string>& argv,
                               const std::vector<std::string>& env = {});
    ~BackgroundCommand();
    BackgroundCommand(const BackgroundCommand&) = delete;
    BackgroundCommand& operator=(const BackgroundCommand&) = delete;

    bool started() const { return pid_ > 0; }
    // The next line of standard output without its line break; nullopt when the output ends or
    // no whole line comes within `timeout`.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    // Sends `signal` and waits (up to ten seconds, then kills it): the exit status, or -1 when
    // it did not exit by itself.
    int stop(int signal);

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
};

} // namespace vantorel::testing
