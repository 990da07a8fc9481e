// vantorel-cli resolve SHARE_LINK: the direct download address of a share link.

#include "cli/Commands.h"
#include "download/ShareLink.h"

#include <cstdio>
#include <string>

namespace vantorel::cli {

int runResolve(Args args) {
    if (args.size() != 1 || args[0].empty() || args[0].starts_with("-"))
        return usageError("resolve");
    auto direct = download::resolveShareLink(args[0]);
    if (!direct) {
        std::string why(download::shareStepName(direct.failedAt));
        if (!direct.error().detail.empty())
            why += "：" + direct.error().detail;
        std::fprintf(stderr, "%s（%s）\n", direct.error().message.c_str(), why.c_str());
        return 1;
    }
    std::printf("%s\n", direct->c_str());
    return 0;
}

} // namespace vantorel::cli
