#include "net/ContentLength.h"

#include "common/Text.h"

#include <limits>

namespace vantorel::net {

void ContentLength::take(std::string_view value) {
    std::size_t start = 0;
    do {
        std::size_t comma = value.find(',', start);
        if (comma == std::string_view::npos)
            comma = value.size();
        const std::string_view member = trimWhitespace(value.substr(start, comma - start));
        start = comma + 1;
        if (member.empty()) {
            bad_ = true;
            return;
        }
        std::uint64_t number = 0;
        for (char c : member) {
            if (c < '0' || c > '9') {
                bad_ = true;
                return;
            }
            const auto digit = static_cast<std::uint64_t>(c - '0');
            if (number > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
                bad_ = overflow_ = true;
                return;
            }
            number = number * 10 + digit;
        }
        if (value_ && *value_ != number) {
            bad_ = true;
            return;
        }
        value_ = number;
    } while (start <= value.size());
}

std::string ContentLength::problem() const {
    if (!bad_)
        return {};
    return overflow_ ? "服务器回复的 Content-Length 过大"
                     : "服务器回复的 Content-Length 无效或前后不一致";
}

} // namespace vantorel::net
