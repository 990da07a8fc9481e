// The desktop program. --dump-ui and --screenshot DIR build the windows, report on them and
// exit without showing anything (and without the user's download list); with --demo,
// --screenshot adds the main window after a search. --demo answers every search, logo, link and
// download from the built-in loopback services instead of the internet. The command line is
// checked before the display is opened. One program runs per user: a later start (other than
// for a report) hands its command line to the running one, which comes to the front, and ends.

#include "app/Application.h"
#include "app/ResultsScreenshot.h"
#include "app/Screenshots.h"
#include "app/SingleInstance.h"
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
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace {

// The program's own options, declared alike for the early check and for the parse proper.
struct Options {
    QCommandLineOption dumpUi{
        QStringLiteral("dump-ui"),
        QStringLiteral("把各窗口（主窗口、更新、下载列表、设置）的控件树以 "
                       "JSON 输出到标准输出，含各控件的无障碍名称，然后退出。")};
    QCommandLineOption screenshot{
        QStringLiteral("screenshot"),
        QStringLiteral("把各窗口绘制为 DIR/main.png、DIR/update.png、DIR/downloads.png 和 "
                       "DIR/settings.png，然后退出；加 --demo 时另把搜索后显示第一个软件的主窗口"
                       "绘制为 DIR/main-results.png。"),
        QStringLiteral("DIR")};
    QCommandLineOption demo{QStringLiteral("demo"),
                            QStringLiteral("使用内置的离线服务（虚构的软件目录、图标和下载）。")};
    QCommandLineOption checkUpdate{
        QStringLiteral("check-update"),
        QStringLiteral("启动时检查新版本，连不上版本服务时也告知结果。")};

    void addTo(QCommandLineParser& parser) const {
        parser.addOption(dumpUi);
        parser.addOption(screenshot);
        parser.addOption(demo);
        parser.addOption(checkUpdate);
    }
};

// The toolkit's own options, which QApplication takes out of the arguments, and whether a value
// follows each.
constexpr std::pair<const char*, bool> kToolkitOptions[] = {
    {"platform", true},      {"platformpluginpath", true},
    {"platformtheme", true}, {"plugin", true},
    {"qmljsdebugger", true}, {"qwindowgeometry", true},
    {"qwindowicon", true},   {"qwindowtitle", true},
    {"display", true},       {"geometry", true},
    {"session", true},       {"style", true},
    {"stylesheet", true},    {"name", true},
    {"title", true},         {"reverse", false},
    {"widgetcount", false},  {"nograb", false},
    {"dograb", false},       {"sync", false},
};

// What the command line asks, read before anything needs a display.
struct FirstLook {
    // A mistyped option, told (in Chinese, exit status 1) instead of failing for want of a
    // screen.
    std::optional<std::string> problem;
    // A reporting mode or the help, which need no screen: without a display they run offscreen.
    bool reporting = false;
};

FirstLook lookAtCommandLine(int argc, char** argv, const Options& options) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    options.addTo(parser);
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    parser.addOption(QCommandLineOption(QStringLiteral("help-all")));
    parser.addOption(
        QCommandLineOption(QStringList{QStringLiteral("v"), QStringLiteral("version")}));
    for (const auto& [name, takesValue] : kToolkitOptions) {
        QCommandLineOption option(QString::fromLatin1(name));
        if (takesValue)
            option.setValueName(QStringLiteral("VALUE"));
        parser.addOption(option);
    }
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (!parser.parse(arguments)) {
        if (QStringList unknown = parser.unknownOptionNames(); !unknown.isEmpty()) {
            for (QString& name : unknown)
                name.prepend(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"));
            return {"未知选项：" + unknown.join(QStringLiteral("、")).toStdString()};
        }
        return {"选项 " + arguments.last().toStdString() + " 需要一个值"};
    }
    if (const QStringList extra = parser.positionalArguments(); !extra.isEmpty())
        return {"多余的参数：" + extra.join(QLatin1Char(' ')).toStdString()};
    FirstLook look;
    for (const QString& name :
         {QStringLiteral("dump-ui"), QStringLiteral("screenshot"), QStringLiteral("help"),
          QStringLiteral("help-all"), QStringLiteral("version")})
        look.reporting = look.reporting || parser.isSet(name);
    return look;
}

} // namespace

int main(int argc, char** argv) {
    const Options options;
    const FirstLook look = lookAtCommandLine(argc, argv, options);
    if (look.problem) {
        std::fprintf(stderr, "vantorel：%s\n用 vantorel --help 查看可用的选项。\n",
                     look.problem->c_str());
        return 1;
    }
    if (look.reporting && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qtApp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vantorel"));
    QApplication::setApplicationVersion(QString::fromLatin1(vantorel::kVersion));
    vantorel::app::installChineseTranslations(qtApp);
    // Lets the desktop match the windows to the installed menu entry and its icon.
    QApplication::setDesktopFileName(QStringLiteral(VANTOREL_APP_ID));

    QCommandLineParser parser;
    // As the first look read them, so an option it let through is the same option here.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QString::fromUtf8(vantorel::kAppTitle));
    parser.addHelpOption();
    parser.addVersionOption();
    options.addTo(parser);
    parser.process(qtApp);
    const QCommandLineOption& dumpUi = options.dumpUi;
    const QCommandLineOption& screenshot = options.screenshot;
    const QCommandLineOption& demo = options.demo;
    const QCommandLineOption& checkUpdate = options.checkUpdate;

    // The reports show the windows as built, not the user's downloads: they run beside a
    // running program.
    const bool reporting = parser.isSet(dumpUi) || parser.isSet(screenshot);
    vantorel::app::SingleInstance instance;
    if (!reporting) {
        const auto claim = instance.claim(QCoreApplication::arguments());
        if (claim.problem)
            std::fprintf(stderr, "vantorel: %s\n", claim.problem->message.c_str());
        if (!claim.runs)
            return claim.problem ? 1 : 0;
    }

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
        vantorel::net::setSessionProxy({vantorel::net::ProxyChoice::Source::None, {}, {}, {}, {}});

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
    if (parser.isSet(screenshot)) {
        const QString dir = parser.value(screenshot);
        const vantorel::app::Screenshot shots[] = {
            {&app.mainWindow(), QStringLiteral("main.png")},
            {&app.updateWindow(), QStringLiteral("update.png")},
            {&app.mainActions().downloadListWindow(), QStringLiteral("downloads.png")},
            {&app.mainActions().settingsWindow(), QStringLiteral("settings.png")}};
        auto status = vantorel::app::saveScreenshots(shots, dir);
        // With the offline services, the main window at work as well.
        if (status && demoServices)
            status = vantorel::app::saveResultsScreenshot(
                app.mainWindow(), QDir(dir).filePath(QStringLiteral("main-results.png")));
        if (!status) {
            std::fprintf(stderr, "vantorel: %s\n", status.error().message.c_str());
            return 1;
        }
        return 0;
    }
    app.updateActions().startCheckAskedByUser = parser.isSet(checkUpdate);
    QObject::connect(&instance, &vantorel::app::SingleInstance::arrived, &app.mainWindow(),
                     [&](const QStringList& arguments) {
                         app.comeToFront();
                         QCommandLineParser later;
                         later.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
                         options.addTo(later);
                         // The toolkit's options of that start are unknown here and
                         // passed over: the parse goes on past them.
                         later.parse(arguments);
                         if (later.isSet(checkUpdate))
                             app.updateActions().checkForUpdate(true);
                     });
    app.start();
    return QApplication::exec();
}
