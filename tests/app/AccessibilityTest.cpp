// What screen readers and scaled screens get: accessible names in --dump-ui, windows shrunk to
// fit a small screen, borders and pictures at fractional and double device-pixel ratios, and the
// main window's start with paused downloads or a list file it cannot read.

#include "app/Application.h"
#include "app/DescribedWindow.h"
#include "app/MainWindow.h"
#include "app/UiDump.h"
#include "app/UpdateWindow.h"
#include "app/Widgets.h"
#include "common/Config.h"

#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTextStream>
#include <gtest/gtest.h>
#include <map>
#include <string>

using namespace vantorel::app;
using Json = nlohmann::ordered_json;

namespace {

std::map<std::string, Json> controlsByName(const Json& window) {
    std::map<std::string, Json> out;
    for (const Json& control : window["controls"])
        out[control["name"].get<std::string>()] = control;
    return out;
}

} // namespace

TEST(Accessibility, DumpNamesEveryControlAUserCanActOn) {
    Application app;
    QWidget* const laidOut[] = {&app.mainActions().downloadListWindow(),
                                &app.mainActions().settingsWindow()};
    const Json dump = dumpUi(app.mainWindow(), app.updateWindow(), laidOut);
    auto main = controlsByName(dump["windows"][0]);
    auto update = controlsByName(dump["windows"][1]);

    const std::pair<const char*, const char*> named[] = {{"按钮_更多", "更多操作"},
                                                         {"图片框1", "打赏通道"},
                                                         {"图片框_发起QQ聊天", "联系作者"},
                                                         {"图片框_发起QQ群聊", "加入群聊"},
                                                         {"标签__关闭", "关闭打赏通道"},
                                                         {"编辑框_搜索框", "搜索关键词"},
                                                         {"超级列表框_应用列表", "搜索结果"},
                                                         {"按钮_搜索", "给我查"},
                                                         {"按钮_下载", "下载"}};
    for (const auto& [name, accessible] : named)
        EXPECT_EQ(main[name]["accessibleName"], accessible) << name;
    EXPECT_EQ(update["按钮_确认更新"]["accessibleName"], "立即更新");
    EXPECT_EQ(update["按钮_关闭更新"]["accessibleName"], "关闭");
    EXPECT_EQ(update["按钮_关闭更新"]["tabStop"], false); // the window's Esc stands in
    EXPECT_FALSE(main["按钮_更多"]["accessibleDescription"].get<std::string>().empty());

    // Every control that takes focus or a click, in every window, has a name.
    for (const Json& window : dump["windows"]) {
        for (const Json& control : window["controls"]) {
            const std::string kind = control["kind"];
            const bool acts = control.value("tabStop", false) || kind == "button" ||
                              kind == "image button" || kind == "edit box" || kind == "table" ||
                              kind == "spin box";
            if (acts) {
                EXPECT_FALSE(control["accessibleName"].get<std::string>().empty())
                    << window["name"] << " " << control["name"];
            }
        }
    }
}

TEST(Accessibility, AWindowLargerThanTheScreenIsShrunkToFitIt) {
    // 1280 x 800 device pixels at twice the size: 640 x 400 to lay out in.
    const QRect screen(0, 0, 640, 400);
    EXPECT_EQ(fitScale(QSize(1920, 1080), QSize(702, 397)), 1);
    UpdateWindow window(nullptr, screen);
    EXPECT_LT(window.scale(), 1);
    EXPECT_TRUE(screen.contains(QRect(QPoint(0, 0), window.size())));
    const QRect close = window.control("按钮_关闭更新")->geometry();
    EXPECT_TRUE(window.rect().contains(close)) << close.x() << "," << close.y();
    EXPECT_GE(close.width(), 28); // still a button to hit
    const QPoint at = DescribedWindow::centredPosition(screen, window.size());
    EXPECT_TRUE(screen.contains(QRect(at, window.size())));

    // Drawn the same, only smaller: the background reaches the right edge.
    const QImage shot = window.grab().toImage();
    EXPECT_EQ(shot.size(), window.size());
    EXPECT_NE(shot.pixelColor(shot.width() - 40, 200), window.palette().color(QPalette::Window));
}

TEST(Accessibility, BordersAndPicturesHoldAtFractionalAndDoubleScales) {
    MainWindow window;
    auto* logo = window.control<PictureBox>("图片框_图标");
    logo->setImage(QImage(16, 16, QImage::Format_RGB32));
    QImage image(90, 90, QImage::Format_ARGB32);
    image.setDevicePixelRatio(1.5);
    image.fill(Qt::white);
    logo->render(&image);
    const QColor border = logo->palette().color(QPalette::WindowText);
    EXPECT_EQ(image.pixelColor(0, 45), border); // left edge
    EXPECT_EQ(image.pixelColor(45, 0), border); // top edge
    EXPECT_EQ(image.pixelColor(89, 45), border);
    EXPECT_EQ(image.pixelColor(45, 89), border);

    const auto* group = window.control<PictureBox>("图片框_发起QQ群聊");
    EXPECT_EQ(group->image().size(), QSize(90, 22));
    EXPECT_EQ(group->detailedImage().size(), QSize(180, 44));
}

TEST(Accessibility, PausedDownloadsAreToldAtStartAndTheLabelOpensTheList) {
    QTemporaryDir dir;
    const QString list = dir.filePath(QStringLiteral("downloads.json"));
    QFile file(list);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QTextStream(&file) << R"({"downloads": [)"
                       << R"({"name": "a", "target": ")" << dir.filePath("a.exe")
                       << R"(", "addresses": ["http://127.0.0.1:1/a.exe"], "state": "paused"},)"
                       << R"({"name": "b", "target": ")" << dir.filePath("b.exe")
                       << R"(", "addresses": ["http://127.0.0.1:1/b.exe"], "state": "paused"}]})";
    file.close();

    Application app({}, list.toStdString());
    const auto* label = app.mainWindow().control<QLabel>("标签_进度");
    EXPECT_EQ(label->text(), QStringLiteral("2 个下载已暂停"));
    app.mainActions().onProgressLabelClicked();
    EXPECT_TRUE(app.mainActions().downloadListWindow().isVisible());
    app.mainActions().downloadListWindow().hide();
}

TEST(Accessibility, AListFileThatCannotBeReadIsToldAtStartWithWhereItWasKept) {
    QTemporaryDir dir;
    const QString list = dir.filePath(QStringLiteral("downloads.json"));
    QFile file(list);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QTextStream(&file) << R"({"downloads": [,]})";
    file.close();
    vantorel::config::set("VANTOREL_INI", dir.filePath(QStringLiteral("v.ini")).toStdString());
    Application app({}, list.toStdString());
    app.mainActions().onCreated();
    vantorel::config::unset("VANTOREL_INI");
    std::vector<QMessageBox*> shown;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible())
            shown.push_back(box);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0]->text().contains(list + QStringLiteral(".broken-")))
        << shown[0]->text().toStdString();
    shown[0]->close();
}
