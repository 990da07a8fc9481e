#include "cli/NetworkOptions.h"

#include <cstdio>

namespace vantorel::cli {

NetworkArgs applyNetworkOptions(Args args, net::ProxyChoice otherwise, bool proxyIsTheJobs) {
    NetworkArgs out;
    std::optional<std::string> proxy;
    bool direct = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--noproxy") {
            direct = true;
        } else if (args[i] == "--proxy" && !proxyIsTheJobs) {
            if (i + 1 >= args.size()) {
                out.problem = "--proxy 需要一个值";
                return out;
            }
            proxy = std::string(args[++i]);
            if (auto problem = settings::proxyProblem(*proxy); problem || proxy->empty()) {
                out.problem = problem.value_or("--proxy 需要一个代理地址");
                return out;
            }
        } else {
            out.rest.push_back(args[i]);
        }
    }
    if (direct && proxy) {
        out.problem = "--proxy 与 --noproxy 不能同时使用";
        return out;
    }
    if (direct)
        otherwise = {net::ProxyChoice::Source::None, {}, {}, {}};
    else if (proxy)
        otherwise = {net::ProxyChoice::Source::Address, *proxy, {}, {}};
    net::setSessionProxy(std::move(otherwise));
    return out;
}

const settings::Preferences& preferencesOrDefaults() {
    static const settings::Preferences preferences = [] {
        auto loaded = settings::loadPreferences();
        if (loaded)
            return *loaded;
        std::fprintf(stderr, "%s（使用默认设置）\n", loaded.error().message.c_str());
        return settings::Preferences{};
    }();
    return preferences;
}

} // namespace vantorel::cli
