#pragma once

namespace vantorel {

inline constexpr const char* kVersion = "3.9";
inline constexpr const char* kInstanceId = "5c0f3e9a7b2d4e61a8f09c3b7d2e4a10";
inline constexpr const char* kAppTitle = "Vantorel_下载器";

} // namespace vantorel
