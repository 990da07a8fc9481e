// The desktop program. --dump-ui and --screenshot DIR build the windows, report on them and
// exit without showing anything (and without the user's download list). --demo answers every
// search, logo, link and download from the built-in loopback services instead of the internet.

#include "app/Application.h"
#include "app/ResultsScreenshot.h"
#include "app/Screenshots.h"
#include "app/Translations.h"
#include "app/UiDump.h"
#include "common/Version.h"
#include "demo/DemoServices.h"
#include "download/DownloadQueue.h"
#include "settings/Preferences.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

namespace {

// The reporting modes and the help need no screen; without a display they run offscreen.
void preferOffscreenWhenReporting(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--dump-ui") == 0 || std::strcmp(arg, "--screenshot") == 0 ||
            std::strncmp(arg, "--screenshot=", 13) == 0 || std::strcmp(arg, "--help") == 0 ||
            std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--version") == 0 ||
            std::strcmp(arg, "-v") == 0) {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
                qputenv("QT_QPA_PLATFORM", "offscreen");
            }
            return;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    preferOffscreenWhenReporting(argc, argv);
    QApplication qtApp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vantorel"));
    QApplication::setApplicationVersion(QString::fromLatin1(vantorel::kVersion));
    vantorel::app::installChineseTranslations(qtApp);
    // Lets the desktop match the windows to the installed menu entry and its icon.
    QApplication::setDesktopFileName(QStringLiteral(VANTOREL_APP_ID));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(vantorel::kAppTitle));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dumpUi(
        QStringLiteral("dump-ui"),
        QStringLiteral("Print the windows' widget tree as JSON (main, update, download list, "
                       "settings)."));
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Render the windows into DIR/main.png, DIR/update.png, DIR/downloads.png "
                       "and DIR/settings.png; with --demo, the main window after a search with "
                       "an entry shown, into DIR/main-results.png."),
        QStringLiteral("DIR"));
    const QCommandLineOption demo(
        QStringLiteral("demo"),
        QStringLiteral("Use the built-in offline services (made-up catalogue, logos, downloads)."));
    const QCommandLineOption checkUpdate(
        QStringLiteral("check-update"),
        QStringLiteral("Ask the version service at start and say what it answered, also when it "
                       "cannot be reached."));
    parser.addOption(dumpUi);
    parser.addOption(screenshot);
    parser.addOption(demo);
    parser.addOption(checkUpdate);
    parser.process(qtApp);

    // Started before the windows, so that their first requests already go to it; it lives as
    // long as the program.
    std::unique_ptr<vantorel::demo::DemoServices> demoServices;
    if (parser.isSet(demo)) {
        try {
            demoServices = std::make_unique<vantorel::demo::DemoServices>();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "vantorel: 无法启动演示服务：%s\n", e.what());
            return 1;
        }
        demoServices->applyToConfig();
    }
    // The offline services are on this machine: only a real run goes through the user's proxy.
    vantorel::settings::Preferences preferences;
    if (auto loaded = vantorel::settings::loadPreferences(); !loaded)
        std::fprintf(stderr, "vantorel: %s\n", loaded.error().message.c_str());
    else
        preferences = *loaded;
    if (!demoServices)
        vantorel::net::setSessionProxy(vantorel::settings::proxyChoice(preferences));
    else
        vantorel::net::setSessionProxy({vantorel::net::ProxyChoice::Source::None, {}, {}, {}});

    // The reports show the windows as built, not the user's downloads.
    const bool reporting = parser.isSet(dumpUi) || parser.isSet(screenshot);
    vantorel::app::Application app(
        preferences,
        reporting ? std::string() : vantorel::download::DownloadQueue::defaultListFile());
    app.mainActions().proxyPinned = demoServices != nullptr;
    if (parser.isSet(dumpUi)) {
        QWidget* const laidOut[] = {&app.mainActions().downloadListWindow(),
                                    &app.mainActions().settingsWindow()};
        const std::string json =
            vantorel::app::dumpUi(app.mainWindow(), app.updateWindow(), laidOut).dump(2) + "\n";
        if (std::fwrite(json.data(), 1, json.size(), stdout) != json.size() ||
            std::fflush(stdout) != 0) {
            std::fprintf(stderr, "vantorel: 无法输出界面描述\n");
            return 1;
        }
        return 0;
    }
    if (parser.isSet(screenshot) && demoServices) {
        const QString dir = parser.value(screenshot);
        const auto status =
            QDir().mkpath(dir)
                ? vantorel::app::saveResultsScreenshot(
                      app.mainWindow(), QDir(dir).filePath(QStringLiteral("main-results.png")))
                : vantorel::Status(vantorel::makeError("无法创建目录 " + dir.toStdString()));
        if (!status) {
            std::fprintf(stderr, "vantorel: %s\n", status.error().message.c_str());
            return 1;
        }
        return 0;
    }
    if (parser.isSet(screenshot)) {
        const vantorel::app::Screenshot shots[] = {
            {&app.mainWindow(), QStringLiteral("main.png")},
            {&app.updateWindow(), QStringLiteral("update.png")},
            {&app.mainActions().downloadListWindow(), QStringLiteral("downloads.png")},
            {&app.mainActions().settingsWindow(), QStringLiteral("settings.png")}};
        const auto status = vantorel::app::saveScreenshots(shots, parser.value(screenshot));
        if (!status) {
            std::fprintf(stderr, "vantorel: %s\n", status.error().message.c_str());
            return 1;
        }
        return 0;
    }
    app.updateActions().startCheckAskedByUser = parser.isSet(checkUpdate);
    app.start();
    return QApplication::exec();
}
