#include "cli/Commands.h"

#include "cli/NetworkOptions.h"
#include "cli/TerminalText.h"

#include <array>
#include <cstdio>

namespace vantorel::cli {
namespace {

constexpr std::string_view kNetworkArguments = "[--proxy URL | --noproxy]";
constexpr std::string_view kProxyNote =
    "  代理地址可带用户名和密码：协议://用户名:密码@主机:端口（特殊字符按 % 编码）\n";
constexpr std::string_view kLongOptionNote = "  每个长选项也可写成 --名称=值\n";

// `prefix` + name + arguments, continuation lines indented to line up under the first argument.
// A job that names its own --proxy among its arguments (fetch: a proxy with its credentials
// for the one request) reads it itself; the common network options leave it alone.
bool namesOwnProxy(const Command& command) {
    return command.arguments.find("--proxy") != std::string_view::npos;
}

std::string synopsis(std::string_view prefix, const Command& command) {
    std::string head = std::string(prefix) + std::string(command.name) + " ";
    const std::string indent(displayWidth(head), ' ');
    std::string text = head;
    std::string_view rest = command.arguments;
    for (std::size_t lineBreak; (lineBreak = rest.find('\n')) != std::string_view::npos;) {
        text += std::string(rest.substr(0, lineBreak)) + "\n" + indent;
        rest.remove_prefix(lineBreak + 1);
    }
    text += std::string(rest);
    if (command.network)
        text += namesOwnProxy(command) ? std::string(" [--noproxy]")
                                       : " " + std::string(kNetworkArguments);
    return text + "\n";
}

} // namespace

std::span<const Command> commands() {
    static constexpr std::array table{
        Command{"search", "KEYWORD [--json]",
                "在软件目录中搜索关键字，列出找到的程序；--json 输出每项的九个字段", runSearch,
                true},
        Command{"fetch",
                "URL [--client object|session|internet] [-X METHOD] [-H 'Name: value']...\n"
                "[--data TEXT] [--cookie TEXT] [--no-redirect] [--include]\n"
                "[--proxy URL [--proxy-user U] [--proxy-password P]] [--timeout MS]",
                "经所选的 HTTP 客户端完成一次请求，回复正文写到标准输出", runFetch, true},
        Command{"download",
                "URL|FILE.meta4... [-o PATH | -d DIR] [--threads N] [--limit-rate RATE]\n"
                "[--max-concurrent N] [--quiet] [--mirror URL2]... [--checksum TYPE=HEX]",
                "多线程下载每个 URL（PATH 可以是文件夹；多个地址用 -d DIR），同时下载 N 个，"
                "进度写到标准错误；RATE 为所有下载合计的每秒速度，"
                "如 100k、1.5M、2MB/s，至少 10 KB/s；--mirror 给出唯一一个 URL 的"
                "同一文件的其他地址，证实内容相同后一起下载这一个文件；--checksum 给出"
                "这一个文件的校验值（sha-256、sha-1、sha-512 或 md5），不符则不保存；"
                "metalink 文件（本地的 FILE.meta4，或返回 application/metalink4+xml 的地址）"
                "下载其中描述的每个文件，从其所列的各个地址同时下载，并核对大小与校验值，"
                "保存到 DIR（默认当前文件夹）",
                runDownload, true},
        Command{"resolve", "SHARE_LINK", "打印分享链接的直接下载地址", runResolve, true},
        Command{"check-update", "[--json]", "询问版本检查服务，打印当前版本号与最新版本号",
                runCheckUpdate, true},
        Command{"demo", "[--port N]",
                "运行离线演示服务直到 Ctrl-C，并打印让其他命令与窗口使用它的 export 行", runDemo},
    };
    return table;
}

int runCommand(const Command& command, Args args, bool offline) {
    if (!command.network)
        return command.run(args);
    const bool ownProxy = namesOwnProxy(command);
    const net::ProxyChoice otherwise =
        offline ? net::ProxyChoice{net::ProxyChoice::Source::None, {}, {}, {}, {}}
                : settings::proxyChoice(preferencesOrDefaults());
    const NetworkArgs network = applyNetworkOptions(args, otherwise, ownProxy);
    if (network.problem)
        return usageError(command.name, *network.problem);
    return command.run(network.rest);
}

const Command* findCommand(std::string_view name) {
    for (const Command& command : commands())
        if (command.name == name)
            return &command;
    return nullptr;
}

std::string programUsage() {
    std::string text = "用法: vantorel-cli [--demo] COMMAND ...\n";
    for (const Command& command : commands())
        text += synopsis("  ", command);
    return text + "  COMMAND --help（或 -h）：该命令的用法\n  --help | --version\n" +
           std::string(kProxyNote) + std::string(kLongOptionNote);
}

std::string commandUsage(const Command& command) {
    return synopsis("用法: vantorel-cli ", command) + std::string(command.summary) + "\n" +
           std::string(command.network ? kProxyNote : "") + std::string(kLongOptionNote);
}

int usageError(std::string_view name, std::string_view problem) {
    if (!problem.empty())
        std::fprintf(stderr, "%.*s\n", int(problem.size()), problem.data());
    const Command* command = findCommand(name);
    std::fputs((command ? commandUsage(*command) : programUsage()).c_str(), stderr);
    return 2;
}

} // namespace vantorel::cli
