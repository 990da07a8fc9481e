#pragma once
// The length a reply announces, read strictly (RFC 9112 section 6.3): every Content-Length
// line of one reply must hold the same plain decimal number. A value that is not a plain number,
// one too large for 64 bits, or two lines (or list members, "42, 42") that disagree make the
// reply unusable: its body cannot be framed, so it is a failure, never "no length".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantorel::net {

class ContentLength {
  public:
    // The value of one Content-Length line.
    void take(std::string_view value);

    bool bad() const { return bad_; }
    // The announced length; none when no line gave one (or the reply is bad).
    std::optional<std::uint64_t> value() const { return bad_ ? std::nullopt : value_; }
    // For the user: what was wrong with the lines.
    std::string problem() const;

  private:
    std::optional<std::uint64_t> value_;
    bool bad_ = false;
    bool overflow_ = false;
};

} // namespace vantorel::net
