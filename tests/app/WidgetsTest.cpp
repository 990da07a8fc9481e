// Image button faces, the report list's rows and selection, the UI dump and screenshots.

#include "app/Widgets.h"
#include "app/DownloadListWindow.h"
#include "app/Downloads.h"
#include "app/MainWindow.h"
#include "app/Screenshots.h"
#include "app/SettingsWindow.h"
#include "app/UiDump.h"
#include "app/UpdateWindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>

using namespace vantorel::app;

namespace {

QImage solid(QColor colour, QSize size = {20, 10}) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QColor centreOf(QWidget& widget) {
    const QImage shot = widget.grab().toImage();
    return shot.pixelColor(shot.width() / 2, shot.height() / 2);
}

} // namespace

TEST(ImageButtonFaces, EachStateDrawsItsFace) {
    ImageButton button;
    button.resize(20, 10);
    button.setFaces({solid(Qt::red), solid(Qt::green), solid(Qt::blue), QImage()});
    EXPECT_EQ(button.currentFace(), ImageButton::Face::Normal);
    EXPECT_EQ(centreOf(button), QColor(Qt::red));

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(&button, &enter);
    EXPECT_EQ(button.currentFace(), ImageButton::Face::Hover);
    EXPECT_EQ(centreOf(button), QColor(Qt::green));

    button.setDown(true);
    EXPECT_EQ(button.currentFace(), ImageButton::Face::Pressed);
    EXPECT_EQ(centreOf(button), QColor(Qt::blue));
    button.setDown(false);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    EXPECT_EQ(button.currentFace(), ImageButton::Face::Normal);

    // No disabled face: the normal face is drawn greyed, never left blank.
    button.setEnabled(false);
    EXPECT_EQ(button.currentFace(), ImageButton::Face::Disabled);
    const QColor greyed = centreOf(button);
    EXPECT_EQ(greyed.red(), greyed.green());
    EXPECT_EQ(greyed.green(), greyed.blue());
    EXPECT_GT(greyed.red(), 0);
}

TEST(ImageButtonFaces, TheUpdateButtonsCarryTheirPictures) {
    UpdateWindow window;
    auto* confirm = window.control<ImageButton>("按钮_确认更新");
    auto* close = window.control<ImageButton>("按钮_关闭更新");
    ASSERT_TRUE(confirm && close);
    EXPECT_EQ(confirm->sizeHint(), QSize(203, 56));
    EXPECT_EQ(close->sizeHint(), QSize(32, 32));
}

TEST(ReportListRows, AddSetReadAndClear) {
    MainWindow window;
    auto* list = window.control<ReportList>("超级列表框_应用列表");
    EXPECT_EQ(list->currentRowNumber(), -1);
    EXPECT_EQ(list->addRow(), 0);
    EXPECT_EQ(list->addRow(), 1);
    list->setCellText(1, 9, QStringLiteral("图标"));
    list->setCellText(1, 9, QStringLiteral("图标2")); // replaces
    list->setCellText(1, 10, QStringLiteral("x"));    // no such column: ignored
    list->setCellText(5, 0, QStringLiteral("x"));     // no such row: ignored
    EXPECT_EQ(list->cellText(1, 9), QStringLiteral("图标2"));
    EXPECT_EQ(list->cellText(0, 0), QString());
    EXPECT_EQ(list->cellText(7, 7), QString());
    EXPECT_EQ(list->rowCount(), 2);
    list->selectRow(1);
    EXPECT_EQ(list->currentRowNumber(), 1);
    list->clearRows();
    EXPECT_EQ(list->rowCount(), 0);
    EXPECT_EQ(list->currentRowNumber(), -1);
}

TEST(ReportListRows, SelectionIsShownOnlyWithTheFocus) {
    MainWindow window;
    window.show();
    auto* list = window.control<ReportList>("超级列表框_应用列表");
    const int row = list->addRow();
    list->setCellText(row, 1, QStringLiteral("应用"));
    list->selectRow(row);

    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(list, &in);
    EXPECT_TRUE(list->selectionShown());
    const QPoint cell = list->visualRect(list->model()->index(row, 1)).center();
    const QColor focused = list->viewport()->grab().toImage().pixelColor(cell);

    QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
    QApplication::sendEvent(list, &out);
    EXPECT_FALSE(list->selectionShown());
    EXPECT_EQ(list->currentRowNumber(), row); // still selected, just not drawn
    const QColor unfocused = list->viewport()->grab().toImage().pixelColor(cell);
    EXPECT_NE(focused, unfocused);
    EXPECT_EQ(unfocused, QColor(Qt::white));

    // The list's own pop-up menu keeps the row visible.
    QApplication::sendEvent(list, &in);
    QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(list, &popup);
    EXPECT_TRUE(list->selectionShown());
}

TEST(UiDump, DescribesBothLiveWindows) {
    MainWindow main;
    UpdateWindow update;
    main.control("标签_进度")->setProperty("text", QStringLiteral("50%"));
    const auto json = dumpUi(main, update);
    const auto& windows = json.at("windows");
    ASSERT_EQ(windows.size(), 2u);
    const auto& m = windows[0];
    EXPECT_EQ(m.at("title"), "Vantorel_下载器");
    EXPECT_EQ(m.at("clientSize"), (nlohmann::ordered_json{600, 325}));
    EXPECT_EQ(m.at("flags").at("maximizeButton"), false);
    EXPECT_EQ(m.at("flags").at("resizable"), false);
    const auto& controls = m.at("controls");
    ASSERT_EQ(controls.size(), 21u);
    // Creation order, the tip panel's children right after it.
    EXPECT_EQ(controls[0].at("name"), "按钮_更多");
    EXPECT_EQ(controls[1].at("name"), "外形框_二维码");
    EXPECT_EQ(controls[2].at("parent"), "外形框_二维码");
    EXPECT_EQ(controls[20].at("name"), "编辑框_搜索框");
    EXPECT_EQ(controls[20].at("kind"), "edit box");
    EXPECT_EQ(controls[20].at("text"), "QQ");
    EXPECT_EQ(controls[9].at("name"), "标签_进度");
    EXPECT_EQ(controls[9].at("text"), "50%"); // read from the live widget
    EXPECT_EQ(controls[1].at("visible"), false);
    EXPECT_EQ(controls[18].at("columns").size(), 10u);
    EXPECT_EQ(controls[18].at("columns")[5].at("title"), "下载链接1");
    EXPECT_EQ(m.at("menu").at("entries").size(), 7u);
    EXPECT_EQ(m.at("menu").at("entries")[4].at("caption"), "复制_应用详细");
    EXPECT_EQ(m.at("menu").at("menuBarOnWindow"), false);

    const auto& u = windows[1];
    EXPECT_EQ(u.at("flags").at("frameless"), true);
    EXPECT_EQ(u.at("clientSize"), (nlohmann::ordered_json{702, 397}));
    EXPECT_EQ(u.at("background"), (nlohmann::ordered_json{64, 159, 255}));
    ASSERT_EQ(u.at("controls").size(), 10u);
    EXPECT_EQ(u.at("controls")[9].at("kind"), "HTML view");
    EXPECT_EQ(u.at("controls")[9].at("geometry"), (nlohmann::ordered_json{318, -2, 400, 400}));
}

TEST(UiDump, DescribesTheLaidOutWindowsWithoutTheirPassword) {
    MainWindow main;
    UpdateWindow update;
    Downloads downloads({}, {});
    DownloadListWindow list(downloads);
    SettingsWindow settings([](const vantorel::settings::Preferences&) {});
    settings.findChild<QLineEdit*>(QStringLiteral("编辑框_代理密码"))->setText("secret");
    QWidget* const laidOut[] = {&list, &settings};
    const auto json = dumpUi(main, update, laidOut);
    const auto& windows = json.at("windows");
    ASSERT_EQ(windows.size(), 4u);
    EXPECT_EQ(windows[2].at("name"), "窗口_下载列表");
    EXPECT_EQ(windows[2].at("title"), "下载列表");
    EXPECT_EQ(windows[3].at("name"), "窗口_设置");
    EXPECT_EQ(windows[3].at("title"), "设置");
    EXPECT_EQ(json.dump().find("secret"), std::string::npos);

    std::map<std::string, nlohmann::ordered_json> controls;
    for (const auto& window : {windows[2], windows[3]}) {
        const int width = window.at("clientSize")[0];
        const int height = window.at("clientSize")[1];
        for (const auto& control : window.at("controls")) {
            controls[control.at("name")] = control;
            // Laid out as shown, inside the window, not piled in a corner.
            const auto& g = control.at("geometry");
            EXPECT_TRUE(g[0] > 0 && g[1] > 0 && int(g[0]) + int(g[2]) <= width &&
                        int(g[1]) + int(g[3]) <= height)
                << control.at("name") << " " << g.dump();
        }
    }
    const auto& table = controls.at("列表_下载");
    ASSERT_EQ(table.at("columns").size(), 6u);
    EXPECT_EQ(table.at("columns")[2].at("title"), "进度");
    EXPECT_EQ(controls.at("按钮_从列表中删除").at("text"), "从列表中删除");
    EXPECT_EQ(controls.at("编辑框_代理密码").at("password"), true);
    EXPECT_EQ(controls.at("数值框_连接数").at("range"), (nlohmann::ordered_json{1, 16}));
}

TEST(Screenshots, WritesEveryPictureOrSaysWhyNot) {
    MainWindow main;
    UpdateWindow update;
    SettingsWindow settings([](const vantorel::settings::Preferences&) {});
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("shots/nested"));
    const Screenshot shots[] = {{&main, QStringLiteral("main.png")},
                                {&update, QStringLiteral("update.png")},
                                {&settings, QStringLiteral("settings.png")}};
    ASSERT_TRUE(saveScreenshots(shots, target).ok());
    const QImage mainShot(QDir(target).filePath(QStringLiteral("main.png")));
    const QImage updateShot(QDir(target).filePath(QStringLiteral("update.png")));
    const QImage settingsShot(QDir(target).filePath(QStringLiteral("settings.png")));
    EXPECT_EQ(mainShot.size(), QSize(600, 325));
    EXPECT_EQ(updateShot.size(), QSize(702, 397));
    // Never shown, the window still takes the size its layout asks for.
    EXPECT_EQ(settingsShot.size(), settings.sizeHint().expandedTo(settings.minimumSize()));

    // A path under a plain file cannot become a folder.
    QFile blocker(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const auto status = saveScreenshots(shots, dir.filePath(QStringLiteral("file/sub")));
    EXPECT_FALSE(status.ok());
    EXPECT_FALSE(status.error().message.empty());
}

namespace {

// Runs of the bar's fill colour along the middle row.
int fillRuns(ProgressBar& bar) {
    const QImage shot = bar.grab().toImage();
    const QColor fill(6, 176, 37);
    int runs = 0;
    bool inRun = false;
    for (int x = 0; x < shot.width(); ++x) {
        const bool filled = shot.pixelColor(x, shot.height() / 2) == fill;
        runs += filled && !inRun;
        inRun = filled;
    }
    return runs;
}

} // namespace

TEST(ProgressBars, BlocksOrOneSmoothFillUpToThePosition) {
    ProgressBar blocks(BarStyle::Blocks);
    ProgressBar smooth(BarStyle::Smooth);
    for (ProgressBar* bar : {&blocks, &smooth}) {
        bar->resize(170, 10);
        EXPECT_EQ(fillRuns(*bar), 0); // position 0: empty
        bar->setValue(50);
    }
    EXPECT_GT(fillRuns(blocks), 5);
    EXPECT_EQ(fillRuns(smooth), 1);
}
