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
// object name, geometry, visibility, enabled state, tab stop, caption, font, colours, picture.
// Each control is placed behind the one created before it. Pictures that cannot be loaded are
// reported on stderr and leave the control without a picture.
ControlTable buildControls(QWidget& window, const WindowSpec& spec);

// Title, fixed client size, window flags, icon and background colour of the window itself.
void applyWindowLook(QWidget& window, const WindowSpec& spec);

} // namespace vantorel::app
