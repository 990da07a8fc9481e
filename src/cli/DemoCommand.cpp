// vantorel-cli demo [--port N]: runs the offline services until Ctrl-C (or SIGTERM, SIGHUP).
// stdout gets one "export NAME=value" line per setting that points the program at them, then
// a few commands to try as "#" comments, so the output can be pasted into, or sourced by, the
// shell that runs the other jobs or the windows.

#include "cli/Commands.h"
#include "cli/StopSignals.h"
#include "demo/CatalogueData.h"
#include "demo/DemoServices.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

namespace vantorel::cli {
namespace {

// The value as one shell word: plain when it holds nothing the shell would read, else quoted.
std::string shellWord(std::string_view value) {
    constexpr std::string_view kPlain = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                        "0123456789_-+=.,:/@%";
    if (!value.empty() && value.find_first_not_of(kPlain) == std::string_view::npos)
        return std::string(value);
    std::string quoted = "'";
    for (char c : value)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace

int runDemo(Args args) {
    unsigned port = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--port")
            return usageError("demo", "未知选项或多余的参数: " + std::string(args[i]));
        if (i + 1 >= args.size())
            return usageError("demo", "--port 需要一个值");
        const std::string_view value = args[++i];
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
        if (ec != std::errc() || end != value.data() + value.size() || port > 65535)
            return usageError("demo", "--port 应为 0 到 65535 之间的整数（0：任一空闲端口）");
    }

    // Before the server's threads start: the services then stop in order at the sigwait below.
    const sigset_t stopSignals = blockStopSignals();

    std::unique_ptr<demo::DemoServices> services;
    try {
        services = std::make_unique<demo::DemoServices>(static_cast<std::uint16_t>(port));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "无法启动演示服务：%s\n", e.what());
        return 1;
    }

    std::string text;
    for (const auto& [name, value] : services->settings())
        text += "export " + name + "=" + shellWord(value) + "\n";
    const auto found = demo::searchPrograms(services->programs(), "输入法");
    text += "# 演示服务运行于 " + services->base() + "，按 Ctrl-C 停止。";
    text += "在另一个终端执行以上 export 行，然后试试：\n";
    text += "#   vantorel-cli search 输入法\n";
    if (!found.empty())
        text += "#   vantorel-cli download " + found.front().url + "\n";
    text += "#   vantorel-cli check-update\n";
    text += "#   vantorel-cli resolve " + demo::DemoServices::releaseShareLink() + "\n";
    text += "#   vantorel（窗口程序）\n";
    for (const demo::DemoProgram& p : services->programs()) {
        if (p.kind == demo::DemoKind::OtherMirror)
            text += "# 此条目的下载链接2 是长度相同的另一个文件：\n#   vantorel-cli download " +
                    p.record.url + " --mirror " + p.record.https + "\n";
        else if (p.kind == demo::DemoKind::ExpiringLink)
            text += "# 此条目的分享链接解析出的下载地址几秒后过期：\n#   vantorel-cli download " +
                    p.record.url + "\n";
    }
    // Without its settings nobody can use the demo (a full disk under a redirect, say).
    if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
        std::fputs("无法写出演示服务的设置，演示服务未运行\n", stderr);
        return 1;
    }

    int signal = 0;
    sigwait(&stopSignals, &signal);
    services.reset();
    std::fputs("演示服务已停止\n", stderr);
    return 0;
}

} // namespace vantorel::cli
