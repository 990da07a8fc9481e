#pragma once
// Runs a program (usually the built vantorel-cli) and captures what it prints.

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

} // namespace vantorel::testing
