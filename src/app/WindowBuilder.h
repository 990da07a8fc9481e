#pragma once
// Creates a window's controls from its stored description.

#include "app/QtText.h"
#include "app/WindowDescription.h"

#include <QString>
#include <QWidget>
#include <string_view>
#include <utility>
#include <vector>

namespace vantorel::app {

// The built controls of one window by name, in creation order.
class ControlTable {
  public:
    void add(std::string_view name, QWidget* widget);
    QWidget* find(std::string_view name) const;
    const std::vector<std::pair<QString, QWidget*>>& all() const { return controls_; }

  private:
    std::vector<std::pair<QString, QWidget*>> controls_;
};

// Creates every control of `spec` inside `window` (or inside its container) in stored order:
// object name, geometry, visibility, enabled state, tab stop, caption, font, colours, picture,
// accessible name and description. Each control is placed behind the one created before it.
// Pictures that cannot be loaded are reported on stderr and leave the control without a
// picture. `scale` below 1 shrinks geometry, fonts, columns and faces alike (a window fitted to
// a small screen).
ControlTable buildControls(QWidget& window, const WindowSpec& spec, qreal scale = 1);

// Title, fixed client size (times `scale`), window flags, icon and background colour of the
// window itself.
void applyWindowLook(QWidget& window, const WindowSpec& spec, qreal scale = 1);

// The factor a window's stored frame is shrunk by to fit `available`: 1 when it fits, never
// more.
qreal fitScale(QSize available, QSize outerFrame);

// A length of the stored description at `scale`.
int scaled(int length, qreal scale);

// Shrinks a laid-out window (its minimum size too) to its screen's available area and moves it
// inside, so that no part of it is off the screen.
void keepOnScreen(QWidget& window);

} // namespace vantorel::app
