#include "app/DescribedWindow.h"

#include "app/Pictures.h"
#include "app/Widgets.h"

#include <QGuiApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QScreen>
#include <QToolTip>
#include <algorithm>
#include <cstdio>

namespace vantorel::app {

namespace {

QRect primaryArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

} // namespace

DescribedWindow::DescribedWindow(const WindowSpec& spec, QWidget* parent, QRect available)
    : QWidget(parent), spec_(spec),
      scale_(fitScale((available.isEmpty() ? primaryArea() : available).size(),
                      QSize(spec.outerWidth, spec.outerHeight))) {
    ensureAssetsRegistered(); // the window icon is read through Qt directly
    applyWindowLook(*this, spec_, scale_);
    if (!spec_.backgroundPicture.empty()) {
        auto image = loadResourceImage(toQString(spec_.backgroundPicture));
        if (image) {
            background_ = image.value();
        } else {
            std::fprintf(stderr, "vantorel: %s\n", image.error().message.c_str());
        }
    }
    controls_ = buildControls(*this, spec_, scale_);
}

std::string_view DescribedWindow::captionOf(std::string_view name) const {
    for (const ControlSpec& control : spec_.controls)
        if (control.name == name)
            return control.caption;
    return {};
}

QPoint DescribedWindow::centredPosition(QRect available, QSize outerFrame) {
    return available.topLeft() +
           QPoint(std::max(0, (available.width() - outerFrame.width()) / 2),
                  std::max(0, (available.height() - outerFrame.height()) / 2));
}

void DescribedWindow::showEvent(QShowEvent* event) {
    // The stored position is replaced by the centre of the screen, the first time only.
    if (!placed_) {
        placed_ = true;
        if (const QScreen* target = screen()) {
            move(centredPosition(
                target->availableGeometry(),
                QSize(scaled(spec_.outerWidth, scale_), scaled(spec_.outerHeight, scale_))));
        }
    }
    QWidget::showEvent(event);
}

bool DescribedWindow::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    // Transparent labels take no mouse input, so their tooltips are shown from here.
    const auto* help = static_cast<QHelpEvent*>(event);
    for (const TransparentLabel* label : findChildren<TransparentLabel*>()) {
        const QRect area(label->mapTo(this, QPoint(0, 0)), label->size());
        if (label->isVisible() && !label->toolTip().isEmpty() && area.contains(help->pos())) {
            QToolTip::showText(help->globalPos(), label->toolTip(), this, area);
            return true;
        }
    }
    QToolTip::hideText();
    event->ignore();
    return true;
}

void DescribedWindow::paintEvent(QPaintEvent* event) {
    if (!background_.isNull()) {
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(QPointF(0, 0), QSizeF(background_.size()) * scale_), background_);
    }
    QWidget::paintEvent(event);
}

} // namespace vantorel::app
