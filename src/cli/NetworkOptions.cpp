#include "cli/NetworkOptions.h"

#include "net/ProxyAddress.h"

#include <cstdio>

namespace vantorel::cli {

NetworkArgs applyNetworkOptions(Args args, net::ProxyChoice otherwise, bool proxyIsTheJobs) {
    NetworkArgs out;
    std::optional<net::ProxyAddress> proxy;
    bool direct = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--noproxy") {
            direct = true;
        } else if (args[i] == "--proxy" && !proxyIsTheJobs) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                out.problem = "--proxy 需要一个代理地址";
                return out;
            }
            // As curl takes it: credentials in the address, http when no scheme is written.
            auto parsed = net::parseProxyAddress(args[++i], {.schemeOptional = true});
            if (!parsed) {
                out.problem = net::proxyProblemFrom("--proxy", parsed.error().message);
                return out;
            }
            proxy = std::move(*parsed);
        } else {
            out.rest.push_back(args[i]);
        }
    }
    if (direct && proxy) {
        out.problem = "--proxy 与 --noproxy 不能同时使用";
        return out;
    }
    if (direct)
        otherwise = {net::ProxyChoice::Source::None, {}, {}, {}, {}};
    else if (proxy)
        otherwise = {net::ProxyChoice::Source::Address, proxy->withoutCredentials(), proxy->user,
                     proxy->password, "--proxy"};
    net::setSessionProxy(std::move(otherwise));
    return out;
}

std::vector<std::string> splitLongOptions(Args args) {
    std::vector<std::string> out;
    for (std::string_view arg : args) {
        const std::size_t equals = arg.find('=');
        if (arg.starts_with("--") && arg.size() > 2 && equals != std::string_view::npos) {
            out.emplace_back(arg.substr(0, equals));
            out.emplace_back(arg.substr(equals + 1));
        } else {
            out.emplace_back(arg);
        }
    }
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
