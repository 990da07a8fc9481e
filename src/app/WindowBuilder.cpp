#include "app/WindowBuilder.h"

#include "app/Fonts.h"
#include "app/Pictures.h"
#include "app/Widgets.h"

#include <QIcon>
#include <QPushButton>
#include <QTextBrowser>
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

QWidget* createControl(const ControlSpec& spec, const WindowSpec& window, QWidget* parent) {
    switch (spec.kind) {
    case ControlKind::Label: {
        auto* label = new Label(parent);
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
        return button;
    }
    case ControlKind::ReportList: {
        auto* list = new ReportList(parent);
        list->setColumns(window.listColumns);
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

ControlTable buildControls(QWidget& window, const WindowSpec& spec) {
    ControlTable table;
    for (const ControlSpec& control : spec.controls) {
        QWidget* parent = &window;
        if (!control.parent.empty()) {
            if (QWidget* container = table.find(control.parent)) {
                parent = container;
            }
        }
        QWidget* widget = createControl(control, spec, parent);
        widget->setObjectName(toQString(control.name));
        widget->setGeometry(control.frame.left, control.frame.top, control.frame.width,
                            control.frame.height);
        widget->setFont(makeFont(control.font));
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

void applyWindowLook(QWidget& window, const WindowSpec& spec) {
    window.setObjectName(toQString(spec.name));
    window.setWindowTitle(toQString(spec.title));
    window.setFont(defaultGuiFont());
    Qt::WindowFlags flags = Qt::Window;
    if (spec.frameless) {
        flags |= Qt::FramelessWindowHint;
    } else {
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint;
    }
    window.setWindowFlags(flags);
    window.setFixedSize(spec.clientWidth, spec.clientHeight);
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
