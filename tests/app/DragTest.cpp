// The update window moves when pressed on its surface, but not on its buttons.

#include "app/UpdateWindow.h"
#include "app/WindowDrag.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMouseEvent>
#include <gtest/gtest.h>

using namespace vantorel::app;

namespace {

void send(QWidget* target, QEvent::Type type, QPoint local, Qt::MouseButton button,
          Qt::MouseButtons held) {
    const QPointF global = target->mapToGlobal(QPointF(local));
    QMouseEvent event(type, QPointF(local), global, button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// Presses at `local` on `target`, moves the pointer by `delta` and releases.
void dragBy(QWidget* target, QPoint local, QPoint delta) {
    send(target, QEvent::MouseButtonPress, local, Qt::LeftButton, Qt::LeftButton);
    // Global positions of the later events are taken against the press's window position.
    const QPoint pressGlobal = target->mapToGlobal(local);
    for (const QPoint step : {delta / 2, delta}) {
        const QPoint global = pressGlobal + step;
        QMouseEvent move(QEvent::MouseMove, QPointF(target->mapFromGlobal(global)), QPointF(global),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &move);
    }
    const QPoint global = pressGlobal + delta;
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(target->mapFromGlobal(global)),
                        QPointF(global), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

} // namespace

TEST(WindowDrag, WhichPressesMoveTheWindow) {
    for (auto kind : {ControlKind::PictureBox, ControlKind::Label, ControlKind::TransparentLabel,
                      ControlKind::ProgressBar}) {
        EXPECT_TRUE(pressMovesWindow(kind)) << kindName(kind);
    }
    for (auto kind : {ControlKind::Button, ControlKind::ImageButton, ControlKind::HtmlView,
                      ControlKind::EditBox, ControlKind::ReportList}) {
        EXPECT_FALSE(pressMovesWindow(kind)) << kindName(kind);
    }

    WindowDrag drag;
    EXPECT_FALSE(drag.active());
    drag.begin({500, 400}, {300, 350}); // pointer 200, 50 into the window
    EXPECT_TRUE(drag.active());
    EXPECT_EQ(drag.positionFor({510, 390}), QPoint(310, 340));
    drag.end();
    EXPECT_FALSE(drag.active());
}

TEST(WindowDrag, SurfacePressesMoveTheWindowAndDoNotReachTheControl) {
    UpdateWindow window;
    window.show();
    struct Case {
        const char* name; // nullptr: the window's own background
        QPoint at;
    };
    const Case cases[] = {
        {nullptr, {150, 200}}, // background picture
        {"图片框_自定义logo", {50, 50}},
        {"标签1", {4, 100}}, // plain label
        {"进度条_更新", {100, 5}},
        {"标签_当前版本号", {10, 10}}, // text drawn on the background
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "background");
        QWidget* target = c.name ? window.control(c.name) : &window;
        ASSERT_NE(target, nullptr);
        // Transparent labels let the press through to what lies under them.
        const QPoint inWindow = target == &window ? c.at : target->mapTo(&window, c.at);
        QWidget* hit = window.childAt(inWindow);
        if (!hit) {
            hit = &window;
        }
        EXPECT_EQ(hit == &window, c.name == nullptr || target != hit);
        const QPoint before = window.pos();
        dragBy(hit, hit == &window ? inWindow : hit->mapFrom(&window, inWindow), {40, -25});
        EXPECT_EQ(window.pos(), before + QPoint(40, -25));
    }
}

TEST(WindowDrag, ButtonPressesClickAndDoNotMoveTheWindow) {
    UpdateWindow window;
    window.show();
    for (const char* name : {"按钮_确认更新", "按钮_关闭更新"}) {
        SCOPED_TRACE(name);
        auto* button = window.control<QAbstractButton>(name);
        ASSERT_NE(button, nullptr);
        int clicked = 0;
        QObject::connect(button, &QAbstractButton::clicked, [&clicked] { ++clicked; });
        const QPoint before = window.pos();
        const QPoint inside(10, 10);
        send(button, QEvent::MouseButtonPress, inside, Qt::LeftButton, Qt::LeftButton);
        EXPECT_TRUE(button->isDown());
        send(button, QEvent::MouseButtonRelease, inside, Qt::LeftButton, Qt::NoButton);
        EXPECT_EQ(window.pos(), before);
        EXPECT_EQ(clicked, 1);
    }
}
