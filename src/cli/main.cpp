#include "cli/Commands.h"
#include "common/Version.h"
#include "demo/DemoServices.h"

#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kUsage =
    "用法: vantorel-cli [--demo] COMMAND ...\n"
    "  search KEYWORD [--json]\n"
    "  fetch URL [--client object|session|internet] [-X METHOD] [-H 'Name: value']...\n"
    "            [--data TEXT] [--cookie TEXT] [--no-redirect] [--include]\n"
    "            [--proxy URL [--proxy-user U] [--proxy-password P]] [--timeout MS]\n"
    "  download URL [-o PATH] [--threads N] [--quiet]\n"
    "  resolve SHARE_LINK\n"
    "  check-update [--json]\n"
    "  --help | --version\n";

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    // --demo answers every job from the built-in loopback services instead of the internet.
    std::unique_ptr<vantorel::demo::DemoServices> demo;
    if (!args.empty() && args.front() == "--demo") {
        demo = std::make_unique<vantorel::demo::DemoServices>();
        demo->applyToConfig();
        args.erase(args.begin());
    }
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (args.front() == "--help" || args.front() == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.front() == "--version") {
        std::printf("%s\n", vantorel::kVersion);
        return 0;
    }
    for (const auto& command : vantorel::cli::commands()) {
        if (command.name == args.front())
            return command.run(vantorel::cli::Args(args).subspan(1));
    }
    std::fprintf(stderr, "未知命令: %.*s\n%s", int(args.front().size()), args.front().data(), kUsage);
    return 2;
}
