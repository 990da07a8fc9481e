#include "app/DescribedWindow.h"

#include "app/Pictures.h"

#include <QPainter>
#include <QScreen>
#include <cstdio>

namespace vantorel::app {

DescribedWindow::DescribedWindow(const WindowSpec& spec, QWidget* parent)
    : QWidget(parent), spec_(spec) {
    ensureAssetsRegistered(); // the window icon is read through Qt directly
    applyWindowLook(*this, spec_);
    if (!spec_.backgroundPicture.empty()) {
        auto image = loadResourceImage(toQString(spec_.backgroundPicture));
        if (image) {
            background_ = image.value();
        } else {
            std::fprintf(stderr, "vantorel: %s\n", image.error().message.c_str());
        }
    }
    controls_ = buildControls(*this, spec_);
}

QPoint DescribedWindow::centredPosition(QRect available, QSize outerFrame) {
    return available.topLeft() + QPoint((available.width() - outerFrame.width()) / 2,
                                        (available.height() - outerFrame.height()) / 2);
}

void DescribedWindow::showEvent(QShowEvent* event) {
    // The stored position is replaced by the centre of the screen, the first time only.
    if (!placed_) {
        placed_ = true;
        if (const QScreen* target = screen()) {
            move(centredPosition(target->availableGeometry(),
                                 QSize(spec_.outerWidth, spec_.outerHeight)));
        }
    }
    QWidget::showEvent(event);
}

void DescribedWindow::paintEvent(QPaintEvent* event) {
    if (!background_.isNull()) {
        QPainter painter(this);
        painter.drawImage(QPoint(0, 0), background_);
    }
    QWidget::paintEvent(event);
}

} // namespace vantorel::app
