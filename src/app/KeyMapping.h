#pragma once
// Keyboard and mouse arguments in the form the bound actions take: Windows virtual key codes
// and a shift state of 1 Ctrl, 2 Shift, 4 Alt.

#include <Qt>
#include <optional>

class QKeyEvent;

namespace vantorel::app {

inline constexpr int kShiftCtrl = 1;
inline constexpr int kShiftShift = 2;
inline constexpr int kShiftAlt = 4;

struct KeyReport {
    int virtualKey = 0; // 0: a key with no virtual key code of its own
    int shiftState = 0;
    friend bool operator==(const KeyReport&, const KeyReport&) = default;
};

// Shift state of held modifiers, for mouse events.
int shiftState(Qt::KeyboardModifiers modifiers);

// Maps a key press to its virtual key code and shift state. `keypad` marks a key of the numeric
// keypad. `windowsVirtualKey` is the platform's own code where the platform has one (Windows);
// it is used for keys the table does not know. Keypad digits report the main digit codes
// (48-57), keypad minus, decimal point and divide report 189, 190 and 191; a modifier key is
// not reported as held in its own press.
KeyReport mapKey(int qtKey, Qt::KeyboardModifiers modifiers, bool keypad,
                 std::optional<unsigned> windowsVirtualKey = std::nullopt);

KeyReport mapKeyEvent(const QKeyEvent& event);

} // namespace vantorel::app
