#pragma once
// The jobs of vantorel-cli, one file each. A command gets its own arguments (after the command
// name) and returns the exit status: 0 done, 1 the job failed (message on stderr), 2 bad usage.

#include <span>
#include <string_view>

namespace vantorel::cli {

using Args = std::span<const std::string_view>;

struct Command {
    std::string_view name;
    int (*run)(Args args);
};

int runFetch(Args args);
int runSearch(Args args);
int runDownload(Args args);
int runResolve(Args args);
int runCheckUpdate(Args args);

// Every command, in the order the usage text lists them.
std::span<const Command> commands();

} // namespace vantorel::cli
