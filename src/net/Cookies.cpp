#include "net/Cookies.h"

#include "net/HeaderBlock.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <ctime>
#include <utility>
#include <vector>

namespace vantorel::net {
namespace {

constexpr std::string_view kDeleted = "deleted";


std::vector<std::string_view> splitPairs(std::string_view text) {
    std::vector<std::string_view> pairs;
    while (!text.empty()) {
        std::size_t semi = text.find(';');
        std::string_view pair = trimBlanks(text.substr(0, semi));
        if (!pair.empty())
            pairs.push_back(pair);
        if (semi == std::string_view::npos)
            break;
        text.remove_prefix(semi + 1);
    }
    return pairs;
}

std::string_view nameOf(std::string_view pair) {
    return trimBlanks(pair.substr(0, pair.find('=')));
}

std::string_view valueOf(std::string_view pair) {
    std::size_t eq = pair.find('=');
    return eq == std::string_view::npos ? std::string_view() : trimBlanks(pair.substr(eq + 1));
}

// Max-Age of zero or less, or an Expires date already past, deletes the cookie.
bool attributesDelete(const std::vector<std::string_view>& attributes) {
    for (std::string_view attribute : attributes) {
        std::string_view name = nameOf(attribute);
        std::string_view value = valueOf(attribute);
        if (equalsIgnoreCase(name, "Max-Age")) {
            long long seconds = 0;
            auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
            if (ec == std::errc() && ptr == value.data() + value.size() && seconds <= 0)
                return true;
        } else if (equalsIgnoreCase(name, "Expires")) {
            time_t when = curl_getdate(std::string(value).c_str(), nullptr);
            if (when != -1 && when < std::time(nullptr))
                return true;
        }
    }
    return false;
}

void joinPair(std::string& out, std::string_view pair) {
    if (!out.empty())
        out += "; ";
    out += pair;
}

} // namespace

std::string collectSetCookies(std::string_view headerBlock) {
    std::string cookies;
    for (const std::string& line : headerValues(headerBlock, "Set-Cookie")) {
        std::vector<std::string_view> parts = splitPairs(line);
        if (parts.empty() || nameOf(parts.front()).empty())
            continue;
        std::string_view pair = parts.front();
        std::vector<std::string_view> attributes(parts.begin() + 1, parts.end());
        if (attributesDelete(attributes))
            joinPair(cookies, std::string(nameOf(pair)) + "=" + std::string(kDeleted));
        else
            joinPair(cookies, pair);
    }
    return cookies;
}

std::string mergeCookies(std::string_view sent, std::string_view received) {
    std::vector<std::pair<std::string, std::string>> jar; // name, whole pair
    auto apply = [&](std::string_view text) {
        for (std::string_view pair : splitPairs(text)) {
            std::string_view name = nameOf(pair);
            auto it = std::find_if(jar.begin(), jar.end(),
                                   [&](const auto& entry) { return entry.first == name; });
            if (pair.find('=') != std::string_view::npos && valueOf(pair) == kDeleted) {
                if (it != jar.end())
                    jar.erase(it);
            } else if (it != jar.end()) {
                it->second = std::string(pair);
            } else {
                jar.emplace_back(std::string(name), std::string(pair));
            }
        }
    };
    apply(sent);
    apply(received);
    std::string merged;
    for (const auto& entry : jar)
        joinPair(merged, entry.second);
    return merged;
}

} // namespace vantorel::net
