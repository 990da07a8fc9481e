#pragma once
// Hands addresses to the desktop's default handler, as the shell's "open" would. Only web
// addresses (http, https) and chat links (tencent://message/?uin=digits) are ever handed over:
// an address that came from the network with any other scheme (file:, a local path, a program)
// is refused, so no reply can make the desktop run or open something on this computer.
// Files and folders on this computer are opened only on the user's own request, through the
// two calls made for it, and only when they exist.

#include "common/Result.h"

#include <QUrl>
#include <functional>
#include <string_view>

namespace vantorel::app {

inline constexpr std::string_view kRefusedAddressMessage =
    "出于安全考虑，只打开 http 或 https 网页地址，已拒绝：";
inline constexpr std::string_view kNoHandlerMessage = "没有可以打开此链接的程序：";
inline constexpr std::string_view kNoFileMessage = "文件不存在：";
inline constexpr std::string_view kNoFolderMessage = "文件夹不存在：";
inline constexpr std::string_view kCannotOpenMessage = "没有可以打开它的程序：";

class Shell {
  public:
    // QDesktopServices::openUrl by default; tests put a recorder in its place.
    Shell();
    explicit Shell(std::function<bool(const QUrl&)> opener) : opener_(std::move(opener)) {}

    // Opens a web address or a chat link. Refused addresses never reach the opener; a handler
    // that is missing or fails is an error too. Messages are ready to show.
    Status open(std::string_view address) const;
    // Opens an existing regular file (a finished download) with the desktop's program for it.
    Status openFile(std::string_view path) const;
    // Shows an existing folder in the desktop's file manager.
    Status openFolder(std::string_view path) const;

  private:
    std::function<bool(const QUrl&)> opener_;
};

} // namespace vantorel::app
