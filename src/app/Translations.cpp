#include "app/Translations.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>
#include <memory>

namespace vantorel::app {

bool installChineseTranslations(QCoreApplication& application) {
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        std::fprintf(stderr, "vantorel: 未找到 Qt 的中文翻译（qtbase_zh_CN.qm），按钮将显示英文\n");
        return false;
    }
    translator->setParent(&application); // lives as long as the application
    return QCoreApplication::installTranslator(translator.release());
}

} // namespace vantorel::app
