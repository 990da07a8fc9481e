#include "app/UiDump.h"

#include "app/MainWindow.h"
#include "app/Screenshots.h"
#include "app/Widgets.h"

#include <QAccessible>
#include <QFontInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QList>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTextBrowser>
#include <algorithm>

namespace vantorel::app {

namespace {

using Json = nlohmann::ordered_json;

std::string utf8(const QString& text) {
    return text.toStdString();
}

std::string textOf(const QWidget* widget) {
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return utf8(label->text());
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        return utf8(button->text());
    }
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
        return edit->echoMode() == QLineEdit::Normal ? utf8(edit->text()) : std::string();
    }
    if (const auto* view = qobject_cast<const QTextBrowser*>(widget)) {
        return utf8(view->toPlainText());
    }
    return {};
}

// What a screen reader is told about a control: its role, name and description, as the
// accessibility interface gives them (the caption when no name of its own is set).
void addAccessibility(Json& control, const QWidget* widget) {
    QAccessibleInterface* accessible =
        QAccessible::queryAccessibleInterface(const_cast<QWidget*>(widget));
    if (!accessible)
        return;
    control["accessibleName"] = utf8(accessible->text(QAccessible::Name));
    control["accessibleDescription"] = utf8(accessible->text(QAccessible::Description));
}

Json dumpControl(const QWidget* widget, ControlKind kind) {
    Json control;
    control["name"] = utf8(widget->objectName());
    control["kind"] = std::string(kindName(kind));
    const QWidget* parent = widget->parentWidget();
    control["parent"] = parent && !parent->isWindow() ? utf8(parent->objectName()) : "";
    const QRect g = widget->geometry();
    control["geometry"] = {g.x(), g.y(), g.width(), g.height()};
    control["visible"] = !widget->isHidden();
    control["enabled"] = widget->isEnabled();
    control["tabStop"] = (widget->focusPolicy() & Qt::TabFocus) != 0;
    control["text"] = textOf(widget);
    addAccessibility(control, widget);
    const QFont font = widget->font();
    control["font"] = {{"family", utf8(font.family())},
                       {"resolvedFamily", utf8(QFontInfo(font).family())},
                       {"pixelHeight", font.pixelSize()},
                       {"weight", font.weight()}};
    if (const auto* box = qobject_cast<const PictureBox*>(widget)) {
        control["picture"] = box->image().isNull()
                                 ? Json(nullptr)
                                 : Json{box->image().width(), box->image().height()};
        control["displayMode"] = box->displayMode() == DisplayMode::Tiled ? "tiled" : "centred-fit";
        control["border"] = box->hasBorder();
    }
    if (const auto* bar = qobject_cast<const ProgressBar*>(widget)) {
        control["range"] = {bar->minimum(), bar->maximum()};
        control["position"] = bar->value();
        control["style"] = bar->barStyle() == BarStyle::Blocks ? "blocks" : "smooth";
    }
    if (const auto* list = qobject_cast<const ReportList*>(widget)) {
        Json columns = Json::array();
        for (int i = 0; i < list->columnCount(); ++i) {
            const QTableWidgetItem* header = list->horizontalHeaderItem(i);
            columns.push_back({{"title", header ? utf8(header->text()) : ""},
                               {"width", list->horizontalHeader()->sectionSize(i)}});
        }
        control["columns"] = std::move(columns);
        control["rows"] = list->rowCount();
    }
    return control;
}

// Controls in creation order: a widget's children run bottom to top in stacking order, and
// each control lies behind the one created before it, so the reversed list is creation order.
void dumpChildren(const QWidget* container, Json& out) {
    QList<QObject*> children = container->children();
    std::reverse(children.begin(), children.end());
    for (const QObject* child : children) {
        const auto* widget = qobject_cast<const QWidget*>(child);
        if (!widget || widget->isWindow()) {
            continue;
        }
        const auto kind = kindOf(widget);
        if (!kind) {
            continue;
        }
        out.push_back(dumpControl(widget, *kind));
        if (*kind == ControlKind::ShapeBox) {
            dumpChildren(widget, out);
        }
    }
}

Json windowFlags(const QWidget& window) {
    const Qt::WindowFlags flags = window.windowFlags();
    return {
        {"frameless", flags.testFlag(Qt::FramelessWindowHint)},
        {"titleBar", !flags.testFlag(Qt::FramelessWindowHint)},
        {"minimizeButton", flags.testFlag(Qt::WindowMinimizeButtonHint)},
        {"maximizeButton", flags.testFlag(Qt::WindowMaximizeButtonHint)},
        {"resizable", window.minimumSize() != window.maximumSize()},
        {"taskbar", !flags.testFlag(Qt::Tool) && window.isWindow()},
    };
}

std::string_view laidOutKind(const QWidget* widget) {
    if (qobject_cast<const QTableWidget*>(widget))
        return "table";
    if (qobject_cast<const QAbstractButton*>(widget))
        return "button";
    if (qobject_cast<const QLineEdit*>(widget))
        return "edit box";
    if (qobject_cast<const QSpinBox*>(widget))
        return "spin box";
    if (qobject_cast<const QLabel*>(widget))
        return "label";
    return "control";
}

Json dumpLaidOutControl(const QWidget& window, const QWidget* widget) {
    Json control;
    control["name"] = utf8(widget->objectName());
    control["kind"] = std::string(laidOutKind(widget));
    const QPoint at = widget->mapTo(&window, QPoint(0, 0));
    control["geometry"] = {at.x(), at.y(), widget->width(), widget->height()};
    control["visible"] = !widget->isHidden();
    control["enabled"] = widget->isEnabled();
    control["text"] = textOf(widget);
    addAccessibility(control, widget);
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
        control["placeholder"] = utf8(edit->placeholderText());
        control["password"] = edit->echoMode() != QLineEdit::Normal;
    }
    if (const auto* box = qobject_cast<const QSpinBox*>(widget)) {
        control["range"] = {box->minimum(), box->maximum()};
        control["value"] = box->value();
    }
    if (const auto* table = qobject_cast<const QTableWidget*>(widget)) {
        Json columns = Json::array();
        for (int i = 0; i < table->columnCount(); ++i) {
            const QTableWidgetItem* header = table->horizontalHeaderItem(i);
            columns.push_back({{"title", header ? utf8(header->text()) : ""},
                               {"width", table->horizontalHeader()->sectionSize(i)}});
        }
        control["columns"] = std::move(columns);
        Json rows = Json::array();
        for (int row = 0; row < table->rowCount(); ++row) {
            Json cells = Json::array();
            for (int column = 0; column < table->columnCount(); ++column) {
                const QTableWidgetItem* cell = table->item(row, column);
                cells.push_back(cell ? utf8(cell->text()) : "");
            }
            rows.push_back(std::move(cells));
        }
        control["rows"] = std::move(rows);
    }
    return control;
}

} // namespace

Json dumpLaidOutWindow(QWidget& window) {
    // A window not shown yet is laid out now, so the geometry is what it will show.
    layOutUnshown(window);
    Json out;
    out["name"] = utf8(window.objectName());
    out["title"] = utf8(window.windowTitle());
    out["clientSize"] = {window.width(), window.height()};
    out["flags"] = windowFlags(window);
    Json controls = Json::array();
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->objectName().isEmpty() && !widget->objectName().startsWith("qt_") &&
            !widget->isWindow())
            controls.push_back(dumpLaidOutControl(window, widget));
    }
    out["controls"] = std::move(controls);
    return out;
}

Json dumpWindow(const DescribedWindow& window) {
    Json out;
    out["name"] = utf8(window.objectName());
    out["title"] = utf8(window.windowTitle());
    out["clientSize"] = {window.width(), window.height()};
    const WindowSpec& spec = window.description();
    out["outerFrame"] = {spec.outerWidth, spec.outerHeight};
    out["scale"] = window.scale();
    out["flags"] = windowFlags(window);
    const QColor background = window.palette().color(QPalette::Window);
    out["background"] = {background.red(), background.green(), background.blue()};
    Json controls = Json::array();
    dumpChildren(&window, controls);
    out["controls"] = std::move(controls);
    return out;
}

Json dumpUi(const MainWindow& main, const DescribedWindow& update,
            std::span<QWidget* const> others) {
    Json mainJson = dumpWindow(main);
    Json entries = Json::array();
    for (const QAction* action : main.menu().actions()) {
        entries.push_back({{"caption", utf8(action->text())},
                           {"shortcut", utf8(action->shortcut().toString())},
                           {"enabled", action->isEnabled()},
                           {"checkable", action->isCheckable()},
                           {"separator", action->isSeparator()}});
    }
    mainJson["menu"] = {{"name", utf8(main.menu().objectName())},
                        {"menuBarOnWindow", main.findChild<QMenuBar*>() != nullptr},
                        {"entries", std::move(entries)}};
    Json windows = Json::array({std::move(mainJson), dumpWindow(update)});
    for (QWidget* window : others)
        windows.push_back(dumpLaidOutWindow(*window));
    return Json{{"windows", std::move(windows)}};
}

} // namespace vantorel::app
