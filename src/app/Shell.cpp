#include "app/Shell.h"

#include "catalogue/ContactLinks.h"
#include "net/HttpAddress.h"

#include <QDesktopServices>
#include <QFileInfo>

namespace vantorel::app {
namespace {

// The address as it may be shown in a message: control characters as "?", at most 200 bytes.
std::string printable(std::string_view address) {
    constexpr std::size_t kShown = 200;
    std::string shown;
    for (char c : address.substr(0, kShown)) {
        const auto u = static_cast<unsigned char>(c);
        shown.push_back(u < 0x20 || u == 0x7F ? '?' : c);
    }
    if (address.size() > kShown) {
        while (!shown.empty() && (static_cast<unsigned char>(shown.back()) & 0xC0) == 0x80)
            shown.pop_back();
        if (!shown.empty() && static_cast<unsigned char>(shown.back()) >= 0xC0)
            shown.pop_back();
        shown += "…";
    }
    return shown;
}

} // namespace

Shell::Shell() : opener_([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {}

Status Shell::open(std::string_view address) const {
    if (!net::isHttpAddress(address) && !catalogue::isChatLink(address))
        return makeError(std::string(kRefusedAddressMessage) + printable(address));
    const QUrl url(QString::fromUtf8(address.data(), static_cast<qsizetype>(address.size())));
    // The parsed scheme is checked again: what the desktop sees is the QUrl, not the text.
    const QString scheme = url.scheme();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https") &&
        scheme != QLatin1String("tencent"))
        return makeError(std::string(kRefusedAddressMessage) + printable(address));
    if (!url.isValid() || !opener_(url))
        return makeError(std::string(kNoHandlerMessage) + printable(address));
    return {};
}

Status Shell::openFile(std::string_view path) const {
    const QString file = QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
    if (!QFileInfo(file).isFile())
        return makeError(std::string(kNoFileMessage) + printable(path));
    if (!opener_(QUrl::fromLocalFile(file)))
        return makeError(std::string(kCannotOpenMessage) + printable(path));
    return {};
}

Status Shell::openFolder(std::string_view path) const {
    const QString folder = QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
    if (!QFileInfo(folder).isDir())
        return makeError(std::string(kNoFolderMessage) + printable(path));
    if (!opener_(QUrl::fromLocalFile(folder)))
        return makeError(std::string(kCannotOpenMessage) + printable(path));
    return {};
}

} // namespace vantorel::app
