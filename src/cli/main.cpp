#include "cli/Commands.h"
#include "cli/NetworkOptions.h"
#include "common/Version.h"
#include "demo/DemoServices.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
    using namespace vantorel::cli;
    // A closed stderr (a pager quit, a pipe gone) must not kill a download half-way: writes
    // to it fail instead, and the job goes on.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string_view> args(argv + 1, argv + argc);
    // --demo answers every job from the built-in loopback services instead of the internet.
    std::unique_ptr<vantorel::demo::DemoServices> demo;
    if (!args.empty() && args.front() == "--demo") {
        demo = std::make_unique<vantorel::demo::DemoServices>();
        demo->applyToConfig();
        args.erase(args.begin());
    }
    auto isHelp = [](std::string_view arg) { return arg == "--help" || arg == "-h"; };
    if (args.empty()) {
        std::fputs(programUsage().c_str(), stderr);
        return 2;
    }
    if (isHelp(args.front())) {
        std::fputs(programUsage().c_str(), stdout);
        return 0;
    }
    if (args.front() == "--version") {
        std::printf("%s\n", vantorel::kVersion);
        return 0;
    }
    const Command* command = findCommand(args.front());
    if (!command) {
        std::fprintf(stderr, "未知命令: %.*s\n%s", int(args.front().size()), args.front().data(),
                     programUsage().c_str());
        return 2;
    }
    const std::vector<std::string> split = splitLongOptions(Args(args).subspan(1));
    const std::vector<std::string_view> splitViews(split.begin(), split.end());
    const Args jobArgs(splitViews);
    // Help wins wherever it stands, so "search -h" shows the usage instead of searching for "-h".
    if (std::any_of(jobArgs.begin(), jobArgs.end(), isHelp)) {
        std::fputs(commandUsage(*command).c_str(), stdout);
        return 0;
    }
    return runCommand(*command, jobArgs, demo != nullptr);
}
