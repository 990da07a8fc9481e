#pragma once
// The request methods a client can send. There are exactly these eight, in this order.

#include <array>
#include <optional>
#include <string_view>

namespace vantorel::net {

enum class HttpMethod { Get, Post, Head, Put, Options, Delete, Trace, Connect };

inline constexpr std::array<std::string_view, 8> kHttpMethodNames = {
    "GET", "POST", "HEAD", "PUT", "OPTIONS", "DELETE", "TRACE", "CONNECT"};

constexpr std::string_view methodName(HttpMethod method) {
    return kHttpMethodNames[static_cast<std::size_t>(method)];
}

// The method whose name is `name` (exact, upper case as sent on the wire); none for any other.
constexpr std::optional<HttpMethod> methodFromName(std::string_view name) {
    for (std::size_t i = 0; i < kHttpMethodNames.size(); ++i)
        if (kHttpMethodNames[i] == name)
            return static_cast<HttpMethod>(i);
    return std::nullopt;
}

} // namespace vantorel::net
