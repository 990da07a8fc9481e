#include "app/WindowBuilder.h"

#include "app/Fonts.h"
#include "app/Pictures.h"
#include "app/Widgets.h"

#include <QGuiApplication>
#include <QIcon>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vantorel::app {

namespace {

QColor toColour(Rgb rgb) {
    return QColor(rgb.r, rgb.g, rgb.b);
}

QImage loadOrWarn(std::string_view path) {
    if (path.empty()) {
        return {};
    }
    auto image = loadResourceImage(toQString(path));
    if (!image) {
        std::fprintf(stderr, "vantorel: %s\n", image.error().message.c_str());
        return {};
    }
    return image.value();
}

Qt::Alignment alignmentOf(const ControlSpec& spec) {
    if (spec.wordWrapTop) {
        return Qt::AlignLeft | Qt::AlignTop;
    }
    switch (spec.align) {
    case Align::Centre:
        return Qt::AlignHCenter | Qt::AlignVCenter;
    case Align::Right:
        return Qt::AlignRight | Qt::AlignVCenter;
    case Align::Left:
        break;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}

// Captions are stored with Windows line breaks; a label breaks lines on "\n".
QString captionOf(const ControlSpec& spec) {
    QString text = toQString(spec.caption);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

void setupLabel(QLabel& label, const ControlSpec& spec) {
    label.setTextFormat(Qt::PlainText); // captions are never read as markup
    label.setText(captionOf(spec));
    label.setAlignment(alignmentOf(spec));
    label.setWordWrap(spec.wordWrapTop);
    label.setMargin(0);
    label.setIndent(0);
}

QWidget* createControl(const ControlSpec& spec, const WindowSpec& window, QWidget* parent,
                       qreal scale) {
    switch (spec.kind) {
    case ControlKind::Label: {
        auto* label = new Label(parent);
        // Before the caption: setting it may already make the label's accessible interface.
        label->setKeyboardAction(spec.keyboardAction);
        setupLabel(*label, spec);
        return label;
    }
    case ControlKind::TransparentLabel: {
        auto* label = new TransparentLabel(parent);
        setupLabel(*label, spec);
        return label;
    }
    case ControlKind::ShapeBox:
        return new ShapeBox(parent);
    case ControlKind::PictureBox: {
        auto* box = new PictureBox(parent);
        box->setDisplayMode(spec.displayMode);
        box->setBorder(spec.border);
        if (spec.backgroundColour) {
            box->setBackground(toColour(*spec.backgroundColour));
        }
        if (!spec.pictures.empty()) {
            box->setImage(loadOrWarn(spec.pictures.front()));
        }
        box->setDetailedImage(loadOrWarn(spec.detailedPicture));
        box->setKeyboardAction(spec.keyboardAction);
        return box;
    }
    case ControlKind::Button:
        return new QPushButton(captionOf(spec), parent);
    case ControlKind::ImageButton: {
        auto* button = new ImageButton(parent);
        std::array<QImage, 4> faces;
        for (std::size_t i = 0; i < faces.size() && i < spec.pictures.size(); ++i) {
            faces[i] = loadOrWarn(spec.pictures[i]);
        }
        button->setFaces(faces);
        button->setFaceScale(scale);
        return button;
    }
    case ControlKind::ReportList: {
        auto* list = new ReportList(parent);
        std::vector<ColumnSpec> columns = window.listColumns;
        for (ColumnSpec& column : columns)
            column.width = scaled(column.width, scale);
        list->setColumns(columns);
        list->setFrameShape(spec.border ? QFrame::Box : QFrame::NoFrame);
        list->setFrameShadow(QFrame::Plain);
        return list;
    }
    case ControlKind::ProgressBar:
        return new ProgressBar(spec.barStyle, parent);
    case ControlKind::HtmlView: {
        auto* view = new QTextBrowser(parent);
        // Documents are loaded by the program's own clients, never by following a link.
        view->setOpenLinks(false);
        view->setOpenExternalLinks(false);
        view->setFrameShape(QFrame::NoFrame);
        return view;
    }
    case ControlKind::EditBox: {
        auto* edit = new EditBox(parent);
        edit->setText(captionOf(spec));
        edit->setFrame(spec.border);
        return edit;
    }
    }
    return nullptr;
}

void applyColours(QWidget& widget, const ControlSpec& spec) {
    QPalette palette = widget.palette();
    if (spec.textColour) {
        palette.setColor(QPalette::WindowText, toColour(*spec.textColour));
        palette.setColor(QPalette::Text, toColour(*spec.textColour));
    }
    if (spec.backgroundColour && spec.kind != ControlKind::PictureBox) {
        palette.setColor(QPalette::Window, toColour(*spec.backgroundColour));
        palette.setColor(QPalette::Base, toColour(*spec.backgroundColour));
    }
    widget.setPalette(palette);
}

Qt::FocusPolicy focusPolicyOf(const ControlSpec& spec) {
    if (spec.keyboardAction)
        return Qt::TabFocus;
    switch (spec.kind) {
    case ControlKind::Button:
    case ControlKind::ReportList:
    case ControlKind::HtmlView:
    case ControlKind::EditBox:
        return spec.tabStop ? Qt::StrongFocus : Qt::ClickFocus;
    default:
        return spec.tabStop ? Qt::TabFocus : Qt::NoFocus;
    }
}

} // namespace

void ControlTable::add(std::string_view name, QWidget* widget) {
    controls_.emplace_back(toQString(name), widget);
}

QWidget* ControlTable::find(std::string_view name) const {
    const QString key = toQString(name);
    for (const auto& [controlName, widget] : controls_) {
        if (controlName == key) {
            return widget;
        }
    }
    return nullptr;
}

qreal fitScale(QSize available, QSize outerFrame) {
    if (outerFrame.isEmpty() || available.isEmpty())
        return 1;
    return std::min({qreal(1), qreal(available.width()) / outerFrame.width(),
                     qreal(available.height()) / outerFrame.height()});
}

int scaled(int length, qreal scale) {
    return static_cast<int>(std::floor(length * scale));
}

void keepOnScreen(QWidget& window) {
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize decoration = window.frameGeometry().size() - window.size();
    const QSize room = area.size() - decoration;
    window.setMinimumSize(window.minimumSize().boundedTo(room));
    if (!window.testAttribute(Qt::WA_Resized))
        window.resize(window.sizeHint().expandedTo(window.minimumSize()));
    window.resize(window.size().boundedTo(room));
    QRect frame = window.frameGeometry();
    frame.moveLeft(std::clamp(frame.left(), area.left(), area.right() - frame.width() + 1));
    frame.moveTop(std::clamp(frame.top(), area.top(), area.bottom() - frame.height() + 1));
    window.move(frame.topLeft());
}

namespace {

QFont scaledFont(QFont font, qreal scale) {
    if (scale == 1)
        return font;
    if (font.pixelSize() > 0)
        font.setPixelSize(std::max(1, scaled(font.pixelSize(), scale)));
    else
        font.setPointSizeF(font.pointSizeF() * scale);
    return font;
}

QRect scaledFrame(const Frame& frame, qreal scale) {
    const int left = scaled(frame.left, scale), top = scaled(frame.top, scale);
    return QRect(left, top, scaled(frame.left + frame.width, scale) - left,
                 scaled(frame.top + frame.height, scale) - top);
}

} // namespace

ControlTable buildControls(QWidget& window, const WindowSpec& spec, qreal scale) {
    installControlAccessibility();
    ControlTable table;
    for (const ControlSpec& control : spec.controls) {
        QWidget* parent = &window;
        if (!control.parent.empty()) {
            if (QWidget* container = table.find(control.parent)) {
                parent = container;
            }
        }
        QWidget* widget = createControl(control, spec, parent, scale);
        widget->setObjectName(toQString(control.name));
        widget->setGeometry(scaledFrame(control.frame, scale));
        widget->setFont(scaledFont(makeFont(control.font), scale));
        if (!control.accessibleName.empty())
            widget->setAccessibleName(toQString(control.accessibleName));
        if (!control.accessibleDescription.empty())
            widget->setAccessibleDescription(toQString(control.accessibleDescription));
        applyColours(*widget, control);
        widget->setFocusPolicy(focusPolicyOf(control));
        widget->setEnabled(control.enabled);
        widget->setVisible(control.visible);
        // Qt draws later siblings on top; each control goes behind those created before it.
        widget->lower();
        table.add(control.name, widget);
    }
    return table;
}

void applyWindowLook(QWidget& window, const WindowSpec& spec, qreal scale) {
    window.setObjectName(toQString(spec.name));
    window.setWindowTitle(toQString(spec.title));
    window.setFont(scaledFont(defaultGuiFont(), scale));
    Qt::WindowFlags flags = Qt::Window;
    if (spec.frameless) {
        flags |= Qt::FramelessWindowHint;
    } else {
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint;
    }
    window.setWindowFlags(flags);
    window.setFixedSize(scaled(spec.clientWidth, scale), scaled(spec.clientHeight, scale));
    if (!spec.icon.empty()) {
        window.setWindowIcon(QIcon(toQString(spec.icon)));
    }
    if (spec.backgroundColour) {
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, toColour(*spec.backgroundColour));
        window.setPalette(palette);
        window.setAutoFillBackground(true);
    }
}

} // namespace vantorel::app
