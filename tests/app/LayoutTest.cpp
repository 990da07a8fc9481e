// The built windows, read back from the widgets, against the layout tables.

#include "app/MainWindow.h"
#include "app/UpdateWindow.h"
#include "app/Widgets.h"

#include <QFontInfo>
#include <QHash>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextBrowser>
#include <gtest/gtest.h>

using namespace vantorel::app;

namespace {

struct Row {
    const char* name;
    const char* kind;
    const char* parent;
    QRect geometry;
    bool visible;
    bool enabled;
    bool tabStop; // the layout's, and the pictures and the label whose action keys run too
    const char* text;
};

const Row kMainRows[] = {
    {"按钮_更多", "button", "", {238, 103, 20, 20}, true, false, true, "〓"},
    {"外形框_二维码", "shape box", "", {326, 122, 150, 170}, false, true, false, ""},
    {"标签__关闭", "label", "外形框_二维码", {129, 5, 18, 18}, true, true, true, "╳"},
    {"标签_asd", "label", "外形框_二维码", {5, 5, 100, 18}, true, true, false, "·打赏通道："},
    {"图片框_asd", "picture box", "外形框_二维码", {5, 24, 140, 140}, true, true, true, ""},
    {"图片框_发起QQ聊天", "picture box", "", {329, 127, 22, 22}, true, true, true, ""},
    {"图片框_发起QQ群聊", "picture box", "", {356, 127, 90, 22}, true, true, true, ""},
    {"图片框1", "picture box", "", {294, 122, 30, 30}, true, true, true, ""},
    {"标签_应用名1", "transparent label", "", {294, 5, 300, 122}, true, true, false, nullptr},
    {"标签_进度", "transparent label", "", {192, 131, 95, 20}, true, true, false, ""},
    {"标签_匹配数量", "transparent label", "", {513, 135, 80, 20}, true, true, false, ""},
    {"标签_应用名", "transparent label", "", {9, 40, 250, 20}, true, true, false, "应用程序："},
    {"图片框_图标", "picture box", "", {9, 63, 60, 60}, true, true, false, ""},
    {"标签_版本", "transparent label", "", {82, 63, 150, 20}, true, true, false, "版本："},
    {"标签_大小", "transparent label", "", {82, 83, 150, 20}, true, true, false, "大小："},
    {"标签_更新", "transparent label", "", {82, 103, 110, 20}, true, true, false, "更新："},
    {"进度条_下载", "progress bar", "", {9, 136, 170, 10}, true, true, false, ""},
    {"按钮_下载", "button", "", {192, 103, 45, 20}, true, false, true, "下载"},
    {"超级列表框_应用列表", "report list", "", {0, 158, 600, 167}, true, true, true, ""},
    {"按钮_搜索", "button", "", {182, 8, 55, 25}, true, true, true, "给我查"},
    {"编辑框_搜索框", "edit box", "", {8, 8, 168, 25}, true, true, true, "QQ"},
};

const Row kUpdateRows[] = {
    {"标签_最新版本号", "transparent label", "", {13, 20, 120, 20}, true, true, false, ""},
    {"标签_更新进度", "transparent label", "", {202, 358, 80, 15}, true, true, false, ""},
    {"标签_更新状态", "transparent label", "", {9, 358, 90, 15}, true, true, false, ""},
    {"进度条_更新", "progress bar", "", {9, 375, 280, 10}, true, true, false, ""},
    {"标签_当前版本号", "transparent label", "", {13, 5, 120, 20}, true, true, false, ""},
    {"按钮_关闭更新", "image button", "", {669, 1, 32, 32}, true, true, false, ""},
    {"按钮_确认更新", "image button", "", {25, 269, 199, 56}, true, true, false, ""},
    {"图片框_自定义logo", "picture box", "", {24, 55, 200, 100}, true, true, false, ""},
    {"标签1", "label", "", {312, 0, 8, 397}, true, true, false, ""},
    {"文本框_更新内容", "HTML view", "", {318, -2, 400, 400}, true, true, true, ""},
};

QString textOf(const QWidget* w) {
    if (auto* label = qobject_cast<const QLabel*>(w)) {
        return label->text();
    }
    if (auto* button = qobject_cast<const QAbstractButton*>(w)) {
        return button->text();
    }
    if (auto* edit = qobject_cast<const QLineEdit*>(w)) {
        return edit->text();
    }
    if (auto* view = qobject_cast<const QTextBrowser*>(w)) {
        return view->toPlainText();
    }
    return {};
}

// Every row is found by its name among the window's descendants and matches the table; the
// window holds no other controls, and siblings stack in stored order with the first on top.
template <std::size_t N> void checkWindow(const QWidget& window, const Row (&rows)[N]) {
    int controls = 0;
    for (const QWidget* w : window.findChildren<QWidget*>()) {
        if (kindOf(w)) {
            ++controls;
        }
    }
    EXPECT_EQ(controls, static_cast<int>(N));

    QHash<const QWidget*, const QWidget*> lastChildOf;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto* w = window.findChild<QWidget*>(QString::fromUtf8(row.name));
        ASSERT_NE(w, nullptr);
        const auto kind = kindOf(w);
        ASSERT_TRUE(kind.has_value());
        EXPECT_EQ(kindName(*kind), row.kind);
        const QWidget* parent = w->parentWidget();
        EXPECT_EQ(parent == &window ? QString() : parent->objectName(),
                  QString::fromUtf8(row.parent));
        EXPECT_EQ(w->geometry(), row.geometry);
        EXPECT_EQ(!w->isHidden(), row.visible);
        EXPECT_EQ(w->isEnabled(), row.enabled);
        EXPECT_EQ((w->focusPolicy() & Qt::TabFocus) != 0, row.tabStop);
        if (row.text) {
            EXPECT_EQ(textOf(w), QString::fromUtf8(row.text));
        }
        if (const QWidget* previous = lastChildOf.value(parent)) {
            const QObjectList& order = parent->children(); // bottom to top
            EXPECT_LT(order.indexOf(const_cast<QWidget*>(w)),
                      order.indexOf(const_cast<QWidget*>(previous)))
                << "lies above " << previous->objectName().toStdString();
        }
        lastChildOf.insert(parent, w);
    }
}

} // namespace

TEST(MainWindowLayout, ControlsMatchTheTable) {
    MainWindow window;
    checkWindow(window, kMainRows);
    const auto* tips = window.control<QLabel>("标签_应用名1");
    ASSERT_NE(tips, nullptr);
    EXPECT_EQ(tips->text().split('\n').size(), 4);
    EXPECT_TRUE(tips->text().startsWith(QStringLiteral("提示：\n1、双击列表显示详细")));
    EXPECT_TRUE(tips->wordWrap());
    EXPECT_EQ(tips->alignment(), Qt::AlignLeft | Qt::AlignTop);
    // Wrapped at 16-pixel lines the four paragraphs fit the label's 122 pixels.
    const auto* wrapped = qobject_cast<const TransparentLabel*>(tips);
    ASSERT_NE(wrapped, nullptr);
    EXPECT_EQ(wrapped->wrappedLineHeight(), 16);
    EXPECT_GE(wrapped->wrappedLineCount(), 5);
    EXPECT_LE(wrapped->wrappedLineCount() * wrapped->wrappedLineHeight(), tips->height());
    EXPECT_EQ(window.control<QLabel>("标签__关闭")->alignment(),
              Qt::AlignHCenter | Qt::AlignVCenter);
}

TEST(MainWindowLayout, WindowIsFixedWithoutMaximizeOrMenuBar) {
    MainWindow window;
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Vantorel_下载器"));
    EXPECT_EQ(window.size(), QSize(600, 325));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(128, 128)));
    // The list fills the client area's bottom exactly.
    const QWidget* list = window.control("超级列表框_应用列表");
    EXPECT_EQ(list->geometry().bottomRight(), QPoint(599, 324));

    EXPECT_EQ(window.findChild<QMenuBar*>(), nullptr);
    window.show();
    EXPECT_FALSE(window.menu().isVisible());
    EXPECT_EQ(window.size(), QSize(600, 325));
}

TEST(MainWindowLayout, MenuHasSevenEntriesInOrder) {
    MainWindow window;
    EXPECT_EQ(window.menu().objectName(), QStringLiteral("子菜单"));
    const QStringList expected{"通过外部访问_下载地址1",
                               "通过外部访问_下载地址2",
                               "复制_下载地址1",
                               "复制_下载地址2",
                               "复制_应用详细",
                               "下载列表",
                               "设置"};
    const QList<QAction*> actions = window.menu().actions();
    ASSERT_EQ(actions.size(), expected.size());
    for (int i = 0; i < actions.size(); ++i) {
        EXPECT_EQ(actions[i]->text(), expected[i]);
        EXPECT_TRUE(actions[i]->isEnabled());
        EXPECT_FALSE(actions[i]->isCheckable());
        EXPECT_FALSE(actions[i]->isSeparator());
    }
    // Only the two entries that are not the layout's have shortcuts, working in the whole window.
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(actions[i]->shortcut().isEmpty());
    EXPECT_EQ(actions[5]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_J));
    EXPECT_EQ(actions[6]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_TRUE(window.actions().contains(actions[5]));
    EXPECT_TRUE(window.actions().contains(actions[6]));
}

TEST(MainWindowLayout, ListColumnsAndBehaviour) {
    MainWindow window;
    auto* list = window.control<ReportList>("超级列表框_应用列表");
    ASSERT_NE(list, nullptr);
    const std::pair<const char*, int> columns[] = {
        {"序号", 40},       {"应用名", 130},    {"包名", 120},    {"大小", 90},
        {"ID", 80},         {"下载链接1", 200}, {"发布日期", 80}, {"版本号", 90},
        {"下载链接2", 200}, {"图标地址", 120}};
    ASSERT_EQ(list->columnCount(), 10);
    int total = 0;
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(list->horizontalHeaderItem(i)->text(), QString::fromUtf8(columns[i].first));
        EXPECT_EQ(list->horizontalHeader()->sectionSize(i), columns[i].second);
        total += list->horizontalHeader()->sectionSize(i);
    }
    EXPECT_EQ(total, 1150);
    EXPECT_EQ(list->rowCount(), 0);
    EXPECT_TRUE(list->showGrid());
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(list->horizontalHeader()->sectionsClickable());
    EXPECT_FALSE(list->isSortingEnabled());
    EXPECT_FALSE(list->horizontalHeader()->isHidden());
    EXPECT_EQ(list->palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_EQ(list->palette().color(QPalette::Text), QColor(Qt::black));

    window.show();
    // 1,150 pixels of columns in a 600-pixel list scroll sideways.
    EXPECT_GT(list->horizontalScrollBar()->maximum(), 0);
}

TEST(MainWindowLayout, FontsAndColours) {
    MainWindow window;
    const QFont tips = window.control("标签_应用名1")->font();
    EXPECT_EQ(tips.family(), QStringLiteral("黑体"));
    EXPECT_EQ(tips.pixelSize(), 16);
    EXPECT_EQ(tips.weight(), QFont::Normal);
    const QFont close = window.control("标签__关闭")->font();
    EXPECT_EQ(close.pixelSize(), 11);
    EXPECT_EQ(close.weight(), QFont::Bold);
    EXPECT_EQ(window.control("标签_匹配数量")->font().pixelSize(), 13);
    const auto* edit = window.control<QLineEdit>("编辑框_搜索框");
    EXPECT_EQ(edit->font().family(), QStringLiteral("微软雅黑"));
    EXPECT_EQ(edit->font().pixelSize(), 12);
    EXPECT_EQ(edit->palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_TRUE(edit->hasFrame());
    // Whatever face is picked for the missing Windows faces, it must carry Chinese.
    EXPECT_TRUE(QFontMetrics(tips).inFont(QChar(0x63D0))); // 提
    EXPECT_TRUE(QFontMetrics(edit->font()).inFont(QChar(0x4E0B)));

    auto* bar = window.control<ProgressBar>("进度条_下载");
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(bar->orientation(), Qt::Horizontal);
    EXPECT_EQ(bar->barStyle(), BarStyle::Blocks);
}

TEST(UpdateWindowLayout, ControlsMatchTheTable) {
    UpdateWindow window;
    checkWindow(window, kUpdateRows);
    EXPECT_EQ(window.size(), QSize(702, 397));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::Tool)); // keeps its taskbar entry
    EXPECT_EQ(window.palette().color(QPalette::Window), QColor(64, 159, 255));

    EXPECT_EQ(window.control("标签_最新版本号")->palette().color(QPalette::WindowText),
              QColor(Qt::white));
    EXPECT_EQ(window.control("标签_当前版本号")->palette().color(QPalette::WindowText),
              QColor(Qt::white));
    const auto* progress = window.control<QLabel>("标签_更新进度");
    EXPECT_EQ(progress->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(progress->font().weight(), QFont::Bold);
    EXPECT_EQ(progress->font().pixelSize(), 12);
    EXPECT_EQ(window.control("标签1")->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(window.control<ProgressBar>("进度条_更新")->barStyle(), BarStyle::Smooth);
    EXPECT_TRUE(window.control<QTextBrowser>("文本框_更新内容")->document()->isEmpty());

    // The notes view reaches past the right and top edges; the window clips it.
    const QImage shot = window.grab().toImage();
    EXPECT_EQ(shot.size(), QSize(702, 397));
    // The white divider is drawn over the blue background.
    EXPECT_EQ(shot.pixelColor(315, 200), QColor(Qt::white));
}

TEST(WindowPlacement, CentredOnTheScreenWithTheOuterFrame) {
    EXPECT_EQ(DescribedWindow::centredPosition(QRect(0, 0, 1920, 1080), QSize(606, 354)),
              QPoint(657, 363));
    EXPECT_EQ(DescribedWindow::centredPosition(QRect(100, 50, 800, 600), QSize(702, 397)),
              QPoint(149, 151));

    MainWindow window;
    window.move(50, 50);
    window.show();
    const QRect screen = window.screen()->availableGeometry();
    EXPECT_EQ(window.pos(), DescribedWindow::centredPosition(screen, QSize(606, 354)));
}
