#include "download/Announced.h"

#include "common/Text.h"
#include "net/Base64.h"
#include "net/HttpAddress.h"

#include <algorithm>
#include <utility>

namespace vantorel::download {
namespace {

constexpr std::string_view kSpaces = " \t";

std::string_view skipSpaces(std::string_view text) {
    const std::size_t start = text.find_first_not_of(kSpaces);
    return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

// A link parameter's value, a token or a quoted string, taken off the front of `rest`.
std::string takeValue(std::string_view& rest) {
    std::string value;
    if (!rest.starts_with('"')) {
        const std::size_t end = std::min(rest.find_first_of(";, \t"), rest.size());
        value = rest.substr(0, end);
        rest.remove_prefix(end);
        return value;
    }
    std::size_t i = 1;
    for (; i < rest.size() && rest[i] != '"'; ++i) {
        if (rest[i] == '\\' && i + 1 < rest.size())
            ++i;
        value += rest[i];
    }
    rest.remove_prefix(std::min(i + 1, rest.size()));
    return value;
}

bool namesDuplicate(std::string_view relations) {
    while (!(relations = skipSpaces(relations)).empty()) {
        const std::size_t end = std::min(relations.find_first_of(kSpaces), relations.size());
        if (equalsIgnoreCase(relations.substr(0, end), "duplicate"))
            return true;
        relations.remove_prefix(end);
    }
    return false;
}

// "SHA" is SHA-1 in both registries; the other names are the checksum option's.
std::optional<DigestType> algorithmNamed(std::string_view name) {
    if (equalsIgnoreCase(name, "sha"))
        return DigestType::Sha1;
    return digestTypeNamed(name);
}

// Keeps in `best` the stronger of it and the digest `name`=`base64` gives, if well-formed.
void consider(std::optional<Checksum>& best, std::string_view name, std::string_view base64) {
    const auto type = algorithmNamed(trimWhitespace(name));
    if (!type || (best && digestStrength(best->type) >= digestStrength(*type)))
        return;
    const auto bytes = net::base64Decode(trimWhitespace(base64));
    if (!bytes)
        return;
    auto checksum = checksumOfBytes(
        *type, std::span(reinterpret_cast<const unsigned char*>(bytes->data()), bytes->size()));
    if (checksum)
        best = std::move(*checksum);
}

// Calls `each(name, value)` for every "name=value" member of a comma-separated list.
template <class Each> void forEachMember(std::string_view list, Each each) {
    while (!list.empty()) {
        const std::size_t comma = std::min(list.find(','), list.size());
        const std::string_view member = list.substr(0, comma);
        list.remove_prefix(std::min(comma + 1, list.size()));
        const std::size_t equals = member.find('=');
        if (equals != std::string_view::npos)
            each(member.substr(0, equals), member.substr(equals + 1));
    }
}

} // namespace

std::vector<std::string> duplicatesIn(std::span<const std::string> links) {
    std::vector<std::string> found;
    for (const std::string& header : links) {
        std::string_view rest = header;
        for (;;) {
            rest = skipSpaces(rest);
            while (rest.starts_with(',')) // empty list members
                rest = skipSpaces(rest.substr(1));
            const std::size_t close = rest.find('>');
            if (!rest.starts_with('<') || close == std::string_view::npos)
                break;
            const std::string_view target = rest.substr(1, close - 1);
            rest.remove_prefix(close + 1);
            bool duplicate = false;
            bool relSeen = false;
            while ((rest = skipSpaces(rest)).starts_with(';')) {
                rest = skipSpaces(rest.substr(1));
                const std::size_t nameEnd = std::min(rest.find_first_of("=;, \t"), rest.size());
                const std::string_view name = rest.substr(0, nameEnd);
                rest = skipSpaces(rest.substr(nameEnd));
                std::string value;
                if (rest.starts_with('=')) {
                    rest = skipSpaces(rest.substr(1));
                    value = takeValue(rest);
                }
                // Only the first rel counts (RFC 8288, section 3.3).
                if (equalsIgnoreCase(name, "rel") && !std::exchange(relSeen, true))
                    duplicate = namesDuplicate(value);
            }
            if (duplicate && net::isHttpAddress(target) &&
                std::find(found.begin(), found.end(), target) == found.end())
                found.emplace_back(target);
            rest = skipSpaces(rest);
            if (!rest.empty() && !rest.starts_with(','))
                break;
        }
    }
    return found;
}

std::optional<Checksum> strongestDigest(std::string_view digest, std::string_view reprDigest) {
    std::optional<Checksum> best;
    forEachMember(digest, [&](std::string_view name, std::string_view value) {
        consider(best, name, value);
    });
    // A dictionary member's value is a byte sequence, ":<base64>:", perhaps with parameters.
    forEachMember(reprDigest, [&](std::string_view name, std::string_view value) {
        value = trimWhitespace(value);
        const std::size_t end = value.find(':', 1);
        if (value.starts_with(':') && end != std::string_view::npos)
            consider(best, name, value.substr(1, end - 1));
    });
    return best;
}

std::string addDuplicates(Sources& sources, std::span<const std::string> addresses) {
    std::vector<std::string> known;
    for (std::size_t id = 0; id < sources.size(); ++id) {
        const SourceSpec spec = sources.spec(id);
        known.push_back(net::withoutCredentials(spec.address));
        known.push_back(net::withoutCredentials(spec.url));
        known.push_back(sources.name(id));
    }
    std::size_t added = 0;
    unsigned number = 0;
    std::string told;
    for (const std::string& address : addresses) {
        if (added == kMaxDuplicates)
            break;
        if (std::find(known.begin(), known.end(), net::withoutCredentials(address)) != known.end())
            continue;
        std::string label;
        do
            label = "镜像" + std::to_string(++number);
        while (std::find(known.begin(), known.end(), label) != known.end());
        known.push_back(net::withoutCredentials(address));
        sources.add({address, label, address, false});
        told += (told.empty() ? "" : "，") + label + " " + net::withoutCredentials(address);
        ++added;
    }
    if (told.empty())
        return told;
    return "服务器给出了同一文件的其他地址：" + told + "；核对内容相同后一起下载";
}

} // namespace vantorel::download
