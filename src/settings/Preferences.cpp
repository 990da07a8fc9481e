#include "settings/Preferences.h"

#include "common/Config.h"
#include "common/Text.h"
#include "net/ProxyAddress.h"
#include "settings/SettingsFile.h"

#include <cctype>
#include <charconv>
#include <filesystem>
#include <limits>
#include <tuple>
#include <utility>
#include <vector>

namespace vantorel::settings {
namespace {

using Problem = std::optional<std::string>;

// One preference: its key in the section, the member it fills, and the check a value must pass
// to be saved or taken from the file.
template <class T> struct Key {
    std::string_view name;
    T Preferences::*member;
    Problem (*problem)(std::string_view name, const T& value);
};

// Blanks around a value are trimmed when it is read back, so a value holding them could not be
// kept as given.
Problem textProblem(std::string_view name, const std::string& value) {
    if (trimBlanks(value) != value)
        return "“" + std::string(name) + "”的开头和结尾不能是空格或制表符";
    return std::nullopt;
}

Problem proxyKeyProblem(std::string_view name, const std::string& value) {
    if (auto problem = textProblem(name, value))
        return problem;
    return proxyProblem(value);
}

Problem folderProblem(std::string_view name, const std::string& value) {
    if (auto problem = textProblem(name, value))
        return problem;
    // A relative folder would depend on where the program happens to be started.
    if (!value.empty() && !std::filesystem::path(value).is_absolute())
        return std::string(name) + "必须是以 / 开头的完整路径";
    return std::nullopt;
}

Problem rateProblem(std::string_view, const std::uint64_t& value) {
    if (value != 0 && value < kMinRate)
        return std::string(kSlowRateText);
    return std::nullopt;
}

template <unsigned Low, unsigned High>
Problem between(std::string_view name, const unsigned& value) {
    if (value < Low || value > High)
        return std::string(name) + "必须是 " + std::to_string(Low) + " 到 " + std::to_string(High) +
               " 之间的整数";
    return std::nullopt;
}

constexpr std::tuple kKeys{
    Key<std::string>{"代理", &Preferences::proxy, proxyKeyProblem},
    Key<std::string>{"代理用户名", &Preferences::proxyUser, textProblem},
    Key<std::string>{kProxyPasswordKey, &Preferences::proxyPassword, textProblem},
    Key<std::uint64_t>{"限速", &Preferences::speedLimit, rateProblem},
    Key<unsigned>{"连接数", &Preferences::connections, between<1, download::kMaxWorkers>},
    Key<std::string>{"下载文件夹", &Preferences::downloadFolder, folderProblem},
    Key<unsigned>{"同时下载数", &Preferences::downloadsAtOnce, between<1, kMaxDownloadsAtOnce>},
};

bool parseValue(std::string_view text, std::string& out) {
    out = text;
    return true;
}

// The only 64-bit preference is a rate, kept in the form a user types it.
bool parseValue(std::string_view text, std::uint64_t& out) {
    auto rate = parseRate(text);
    if (rate)
        out = *rate;
    return rate.ok();
}

bool parseValue(std::string_view text, unsigned& out) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size();
}

std::string formatValue(const std::string& value) {
    return value;
}

std::string formatValue(std::uint64_t value) {
    return formatRate(value);
}

std::string formatValue(unsigned value) {
    return std::to_string(value);
}

// A value that is missing, unreadable or fails its check leaves the default in place.
template <class T>
void readKey(std::string_view fileBytes, const Key<T>& key, Preferences& preferences) {
    auto text = getProfileString(fileBytes, kPreferencesSection, key.name);
    if (!text || !*text)
        return;
    T value{};
    if (parseValue(**text, value) && !key.problem(key.name, value))
        preferences.*key.member = std::move(value);
}

} // namespace

Result<Preferences> loadPreferences() {
    auto bytes = readSettingsFile(config::iniPath());
    if (!bytes)
        return bytes.error();
    Preferences preferences;
    std::apply([&](const auto&... key) { (readKey(*bytes, key, preferences), ...); }, kKeys);
    return preferences;
}

Status savePreferences(const Preferences& preferences) {
    std::vector<ProfileEntry> entries;
    Problem refused;
    auto add = [&](const auto& key) {
        if (refused)
            return;
        const auto& value = preferences.*key.member;
        refused = key.problem(key.name, value);
        entries.push_back(
            {std::string(kPreferencesSection), std::string(key.name), formatValue(value)});
    };
    std::apply([&](const auto&... key) { (add(key), ...); }, kKeys);
    if (refused)
        return makeError(*refused);
    return writeProfileStrings(config::iniPath(), entries);
}

std::optional<std::string> proxyProblem(std::string_view address) {
    if (address.empty())
        return std::nullopt;
    auto parsed = net::parseProxyAddress(address, {.credentialsAllowed = false});
    if (!parsed)
        return parsed.error().message;
    return std::nullopt;
}

std::optional<ProxyFields> splitProxyCredentials(std::string_view typed) {
    if (typed.find('@') == std::string_view::npos)
        return std::nullopt;
    auto parsed = net::parseProxyAddress(typed);
    if (!parsed)
        return std::nullopt;
    return ProxyFields{parsed->withoutCredentials(), parsed->user, parsed->password};
}

Result<std::uint64_t> parseRate(std::string_view text) {
    const Error bad = makeError(std::string(kBadRateText));
    text = trimBlanks(text);
    if (text.empty())
        return std::uint64_t{0};
    // The number: digits, optionally a fraction.
    std::size_t digits = 0;
    while (digits < text.size() &&
           (std::isdigit(static_cast<unsigned char>(text[digits])) || text[digits] == '.'))
        ++digits;
    const std::string_view number = text.substr(0, digits);
    const std::size_t point = number.find('.');
    const std::string_view whole = number.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : number.substr(point + 1);
    if (whole.empty() || fraction.find('.') != std::string_view::npos ||
        (point != std::string_view::npos && fraction.empty()))
        return bad;
    // The unit: blanks, then k or m (x1024, x1024x1024), an optional i and B, and "/s".
    std::string unit;
    for (char c : trimBlanks(text.substr(digits)))
        unit += asciiLower(c);
    if (unit.ends_with("/s"))
        unit.resize(unit.size() - 2);
    if (unit.ends_with("b"))
        unit.pop_back();
    if (unit.size() == 2 && unit[1] == 'i')
        unit.pop_back();
    std::uint64_t scale = 1;
    if (unit == "k")
        scale = 1024;
    else if (unit == "m")
        scale = 1024 * 1024;
    else if (!unit.empty())
        return bad;
    std::uint64_t count = 0;
    auto [end, error] = std::from_chars(whole.data(), whole.data() + whole.size(), count);
    if (error != std::errc() || count > std::numeric_limits<std::uint64_t>::max() / scale)
        return bad;
    std::uint64_t rate = count * scale;
    // The fraction of the unit, to the byte (digits past a byte's worth do not count).
    std::uint64_t part = 0, tenths = 1;
    for (char c : fraction.substr(0, 12)) {
        part = part * 10 + static_cast<std::uint64_t>(c - '0');
        tenths *= 10;
    }
    const std::uint64_t extra = static_cast<std::uint64_t>(
        static_cast<long double>(part) * static_cast<long double>(scale) / tenths + 0.5L);
    if (extra > std::numeric_limits<std::uint64_t>::max() - rate)
        return bad;
    rate += extra;
    if (rate != 0 && rate < kMinRate)
        return makeError(std::string(kSlowRateText));
    return rate;
}

std::string formatRate(std::uint64_t bytesPerSecond) {
    constexpr std::uint64_t kKibi = 1024;
    constexpr std::uint64_t kMebi = 1024 * 1024;
    if (bytesPerSecond != 0 && bytesPerSecond % kMebi == 0)
        return std::to_string(bytesPerSecond / kMebi) + "M";
    if (bytesPerSecond != 0 && bytesPerSecond % kKibi == 0)
        return std::to_string(bytesPerSecond / kKibi) + "k";
    return std::to_string(bytesPerSecond);
}

net::ProxyChoice proxyChoice(const Preferences& preferences) {
    net::ProxyChoice choice;
    if (!preferences.proxy.empty()) {
        choice.source = net::ProxyChoice::Source::Address;
        choice.address = preferences.proxy;
        choice.user = preferences.proxyUser;
        choice.password = preferences.proxyPassword;
        choice.origin = "设置";
    }
    return choice;
}

} // namespace vantorel::settings
