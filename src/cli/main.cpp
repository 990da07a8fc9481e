#include "common/Version.h"

#include <cstdio>
#include <cstring>
#include <string_view>

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
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string_view first = argv[1];
    if (first == "--help" || first == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (first == "--version") {
        std::printf("%s\n", vantorel::kVersion);
        return 0;
    }
    std::fprintf(stderr, "未知命令: %s\n%s", argv[1], kUsage);
    return 2;
}
