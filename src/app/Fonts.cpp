#include "app/Fonts.h"

#include <QApplication>
#include <QFontDatabase>

namespace vantorel::app {

namespace {

constexpr int kDefaultGuiPixels = 12;

QStringList withFallback(const QString& first) {
    QStringList families{first};
    const QString fallback = defaultFace();
    if (fallback != first) {
        families << fallback;
    }
    return families;
}

} // namespace

QString defaultFace() {
    for (const char* candidate : {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Microsoft YaHei"}) {
        if (QFontDatabase::hasFamily(QString::fromLatin1(candidate))) {
            return QString::fromLatin1(candidate);
        }
    }
    return QApplication::font().family();
}

QFont defaultGuiFont() {
    QFont font;
    font.setFamilies(withFallback(defaultFace()));
    font.setPixelSize(kDefaultGuiPixels);
    font.setWeight(QFont::Normal);
    return font;
}

QFont makeFont(const FontSpec& spec) {
    if (spec.defaultFont) {
        return defaultGuiFont();
    }
    QFont font;
    const QString family =
        spec.family.empty()
            ? defaultFace()
            : QString::fromUtf8(spec.family.data(), static_cast<qsizetype>(spec.family.size()));
    font.setFamilies(withFallback(family));
    font.setPixelSize(spec.pixelHeight > 0 ? spec.pixelHeight : kDefaultGuiPixels);
    font.setWeight(static_cast<QFont::Weight>(spec.weight));
    return font;
}

} // namespace vantorel::app
