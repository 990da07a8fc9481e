#pragma once
// The live widget tree of the windows as JSON, for --dump-ui: what was actually built, read
// back from the widgets.

#include <nlohmann/json.hpp>

#include <span>

class QWidget;

namespace vantorel::app {

class DescribedWindow;
class MainWindow;

nlohmann::ordered_json dumpWindow(const DescribedWindow& window);
// A window laid out by Qt rather than described: its named controls (objectName set) in tree
// order, with the geometry its layout gives them. A password box shows no text.
nlohmann::ordered_json dumpLaidOutWindow(QWidget& window);
// {"windows": [main, update, others...]}; the main window's entry carries its menu.
nlohmann::ordered_json dumpUi(const MainWindow& main, const DescribedWindow& update,
                              std::span<QWidget* const> others = {});

} // namespace vantorel::app
