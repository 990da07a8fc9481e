#include "common/Config.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <mutex>

namespace vantorel::config {
namespace {

std::mutex& overridesMutex() {
    static std::mutex m;
    return m;
}

std::map<std::string, std::string, std::less<>>& overrides() {
    static std::map<std::string, std::string, std::less<>> m;
    return m;
}

std::string buildDefault(std::string_view key) {
    static const std::map<std::string_view, std::string_view> defaults = {
        {"VANTOREL_CATALOGUE_BASE", VANTOREL_DEFAULT_CATALOGUE_BASE},
        {"VANTOREL_LOGO_BASE", VANTOREL_DEFAULT_LOGO_BASE},
        {"VANTOREL_VERSION_BASE", VANTOREL_DEFAULT_VERSION_BASE},
        {"VANTOREL_SHARE_HOSTS", VANTOREL_DEFAULT_SHARE_HOSTS},
        {"VANTOREL_SHARE_BASE", VANTOREL_DEFAULT_SHARE_BASE},
        {"VANTOREL_GROUP_LINK_BASE", VANTOREL_DEFAULT_GROUP_LINK_BASE},
        {"VANTOREL_CHAT_QQ", VANTOREL_DEFAULT_CHAT_QQ},
        {"VANTOREL_GROUP_QQ", VANTOREL_DEFAULT_GROUP_QQ},
    };
    auto it = defaults.find(key);
    return it == defaults.end() ? std::string() : std::string(it->second);
}

std::string withoutTrailingSlash(std::string base) {
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base;
}

} // namespace

std::string get(std::string_view key) {
    {
        std::lock_guard lock(overridesMutex());
        auto it = overrides().find(key);
        if (it != overrides().end())
            return it->second;
    }
    if (const char* env = std::getenv(std::string(key).c_str()))
        return env;
    return buildDefault(key);
}

void set(std::string_view key, std::string value) {
    std::lock_guard lock(overridesMutex());
    overrides()[std::string(key)] = std::move(value);
}

void unset(std::string_view key) {
    std::lock_guard lock(overridesMutex());
    if (auto it = overrides().find(key); it != overrides().end())
        overrides().erase(it);
}

std::string catalogueBase() {
    return withoutTrailingSlash(get("VANTOREL_CATALOGUE_BASE"));
}
std::string logoBase() {
    return withoutTrailingSlash(get("VANTOREL_LOGO_BASE"));
}
std::string versionBase() {
    return withoutTrailingSlash(get("VANTOREL_VERSION_BASE"));
}

std::vector<std::string> shareHosts() {
    std::vector<std::string> hosts;
    std::string all = get("VANTOREL_SHARE_HOSTS");
    size_t start = 0;
    while (start <= all.size()) {
        size_t comma = all.find(',', start);
        if (comma == std::string::npos)
            comma = all.size();
        std::string host = all.substr(start, comma - start);
        while (!host.empty() && host.front() == ' ')
            host.erase(host.begin());
        while (!host.empty() && host.back() == ' ')
            host.pop_back();
        if (!host.empty())
            hosts.push_back(host);
        start = comma + 1;
    }
    return hosts;
}

std::string shareBase(std::string_view linkHost) {
    std::string base = withoutTrailingSlash(get("VANTOREL_SHARE_BASE"));
    return base.empty() ? "https://" + std::string(linkHost) : base;
}

std::string groupLinkBase() {
    return withoutTrailingSlash(get("VANTOREL_GROUP_LINK_BASE"));
}
std::string chatQQ() {
    return get("VANTOREL_CHAT_QQ");
}
std::string groupQQ() {
    return get("VANTOREL_GROUP_QQ");
}

std::string homeFolder() {
#ifdef _WIN32
    return get("USERPROFILE");
#else
    std::string home = get("HOME");
    if (!home.empty() && home.front() == '/')
        return home;
    // HOME unset or relative: the account's own home, from the password database.
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/')
        return found->pw_dir;
    return {};
#endif
}

std::string iniPath() {
    std::string path = get("VANTOREL_INI");
    if (!path.empty())
        return path;
#ifdef _WIN32
    return "D:\\Vantorel\\Vantorel.ini";
#else
    std::string configHome = get("XDG_CONFIG_HOME");
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the base directory rules ask: the
    // settings would otherwise land wherever the program happens to be started.
    if (configHome.empty() || configHome.front() != '/') {
        const std::string home = homeFolder();
        if (home.empty())
            return {};
        configHome = home + "/.config";
    }
    return configHome + "/Vantorel/Vantorel.ini";
#endif
}

std::string desktopDir() {
    return get("VANTOREL_DESKTOP");
}

} // namespace vantorel::config
