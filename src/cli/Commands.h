#pragma once
// The jobs of vantorel-cli, one file each. A command gets its own arguments (after the command
// name) and returns the exit status: 0 done, 1 the job failed (message on stderr), 2 bad usage.
// The command table is also where the usage texts come from.

#include <span>
#include <string>
#include <string_view>

namespace vantorel::cli {

using Args = std::span<const std::string_view>;

struct Command {
    std::string_view name;
    std::string_view arguments; // what follows the name; "\n" starts a continuation line
    std::string_view summary;   // what the job does, one line
    int (*run)(Args args);
    // The job goes to the network: it takes --proxy URL and --noproxy (NetworkOptions.h).
    bool network = false;
};

int runFetch(Args args);
int runSearch(Args args);
int runDownload(Args args);
int runResolve(Args args);
int runCheckUpdate(Args args);
int runDemo(Args args);

// Every command, in the order the usage text lists them.
std::span<const Command> commands();
const Command* findCommand(std::string_view name);

// The usage of the whole program: every command's arguments.
std::string programUsage();
// Runs `command` with `args`: a network job's proxy options are taken first. `offline`: the
// jobs ask the offline services on this machine, so no proxy unless --proxy names one.
int runCommand(const Command& command, Args args, bool offline);

// The usage of one job: "用法: vantorel-cli NAME ARGUMENTS" and its summary.
std::string commandUsage(const Command& command);
// Bad usage of the job `name`: the problem (when given) and the job's usage on stderr; returns 2.
int usageError(std::string_view name, std::string_view problem = {});

} // namespace vantorel::cli
