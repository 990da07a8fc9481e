#pragma once
// The program's texts are UTF-8 std::strings; Qt's are QStrings.

#include <QString>
#include <string_view>

namespace vantorel::app {

inline QString toQString(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace vantorel::app
