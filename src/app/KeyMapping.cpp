#include "app/KeyMapping.h"

#include <QKeyEvent>

namespace vantorel::app {

namespace {

// Virtual key codes of the keys that have no letter or digit of their own. Shifted symbols of
// the main block report the key they sit on (US layout), as the platform's key codes do.
int tableCode(int key, bool keypad) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return key; // 'A'..'Z' share their codes
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        return key; // main row and keypad digits alike report 48-57
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) {
        return 112 + (key - Qt::Key_F1);
    }
    if (keypad) {
        switch (key) {
        case Qt::Key_Asterisk:
            return 106;
        case Qt::Key_Plus:
            return 107;
        case Qt::Key_Minus:
            return 189;
        case Qt::Key_Period:
        case Qt::Key_Comma: // decimal separator of some layouts
            return 190;
        case Qt::Key_Slash:
            return 191;
        default:
            break;
        }
    }
    switch (key) {
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 9;
    case Qt::Key_Clear:
        return 12;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Shift:
        return 16;
    case Qt::Key_Control:
        return 17;
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
        return 18;
    case Qt::Key_Pause:
        return 19;
    case Qt::Key_CapsLock:
        return 20;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Space:
        return 32;
    case Qt::Key_PageUp:
        return 33;
    case Qt::Key_PageDown:
        return 34;
    case Qt::Key_End:
        return 35;
    case Qt::Key_Home:
        return 36;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    case Qt::Key_Print:
        return 44;
    case Qt::Key_Insert:
        return 45;
    case Qt::Key_Delete:
        return 46;
    case Qt::Key_Help:
        return 47;
    case Qt::Key_ParenRight:
        return '0';
    case Qt::Key_Exclam:
        return '1';
    case Qt::Key_At:
        return '2';
    case Qt::Key_NumberSign:
        return '3';
    case Qt::Key_Dollar:
        return '4';
    case Qt::Key_Percent:
        return '5';
    case Qt::Key_AsciiCircum:
        return '6';
    case Qt::Key_Ampersand:
        return '7';
    case Qt::Key_Asterisk:
        return '8';
    case Qt::Key_ParenLeft:
        return '9';
    case Qt::Key_Meta:
        return 91;
    case Qt::Key_Menu:
        return 93;
    case Qt::Key_NumLock:
        return 144;
    case Qt::Key_ScrollLock:
        return 145;
    case Qt::Key_Semicolon:
    case Qt::Key_Colon:
        return 186;
    case Qt::Key_Equal:
    case Qt::Key_Plus:
        return 187;
    case Qt::Key_Comma:
    case Qt::Key_Less:
        return 188;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
        return 189;
    case Qt::Key_Period:
    case Qt::Key_Greater:
        return 190;
    case Qt::Key_Slash:
    case Qt::Key_Question:
        return 191;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde:
        return 192;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft:
        return 219;
    case Qt::Key_Backslash:
    case Qt::Key_Bar:
        return 220;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight:
        return 221;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl:
        return 222;
    default:
        return 0;
    }
}

// The keypad's digit, minus, decimal-point and divide keys report the codes of the main block.
int foldKeypad(int code) {
    if (code >= 96 && code <= 105) { // VK_NUMPAD0..VK_NUMPAD9
        return 48 + (code - 96);
    }
    switch (code) {
    case 109: // VK_SUBTRACT
        return 189;
    case 110: // VK_DECIMAL
        return 190;
    case 111: // VK_DIVIDE
        return 191;
    default:
        return code;
    }
}

} // namespace

int shiftState(Qt::KeyboardModifiers modifiers) {
    int state = 0;
    if (modifiers & Qt::ControlModifier) {
        state |= kShiftCtrl;
    }
    if (modifiers & Qt::ShiftModifier) {
        state |= kShiftShift;
    }
    if (modifiers & Qt::AltModifier) {
        state |= kShiftAlt;
    }
    return state;
}

KeyReport mapKey(int qtKey, Qt::KeyboardModifiers modifiers, bool keypad,
                 std::optional<unsigned> windowsVirtualKey) {
    KeyReport report;
    int code = tableCode(qtKey, keypad);
    if (windowsVirtualKey && *windowsVirtualKey > 0 && *windowsVirtualKey < 256) {
        code = static_cast<int>(*windowsVirtualKey);
    }
    report.virtualKey = foldKeypad(code);
    report.shiftState = shiftState(modifiers);
    switch (report.virtualKey) {
    case 16:
    case 160: // left and right Shift
    case 161:
        report.virtualKey = 16;
        report.shiftState &= ~kShiftShift;
        break;
    case 17:
    case 162:
    case 163:
        report.virtualKey = 17;
        report.shiftState &= ~kShiftCtrl;
        break;
    case 18:
    case 164:
    case 165:
        report.virtualKey = 18;
        report.shiftState &= ~kShiftAlt;
        break;
    default:
        break;
    }
    return report;
}

KeyReport mapKeyEvent(const QKeyEvent& event) {
    std::optional<unsigned> native;
#ifdef Q_OS_WIN
    native = event.nativeVirtualKey();
#endif
    return mapKey(event.key(), event.modifiers(), event.modifiers() & Qt::KeypadModifier, native);
}

} // namespace vantorel::app
