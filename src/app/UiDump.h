#pragma once
// The live widget tree of the windows as JSON, for --dump-ui: what was actually built, read
// back from the widgets.

#include <nlohmann/json.hpp>

namespace vantorel::app {

class DescribedWindow;
class MainWindow;

nlohmann::ordered_json dumpWindow(const DescribedWindow& window);
// Both windows: {"windows": [main, update]}; the main window's entry carries its menu.
nlohmann::ordered_json dumpUi(const MainWindow& main, const DescribedWindow& update);

} // namespace vantorel::app
