// Key presses as the bound actions receive them: virtual key code and shift state.

#include "app/KeyMapping.h"

#include <QKeyEvent>
#include <gtest/gtest.h>

using namespace vantorel::app;

namespace {

KeyReport key(int qtKey, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    return mapKey(qtKey, modifiers, modifiers.testFlag(Qt::KeypadModifier));
}

} // namespace

TEST(KeyMapping, LettersDigitsAndNamedKeys) {
    EXPECT_EQ(key(Qt::Key_A).virtualKey, 65);
    EXPECT_EQ(key(Qt::Key_Z).virtualKey, 90);
    EXPECT_EQ(key(Qt::Key_0).virtualKey, 48);
    EXPECT_EQ(key(Qt::Key_9).virtualKey, 57);
    EXPECT_EQ(key(Qt::Key_F1).virtualKey, 112);
    EXPECT_EQ(key(Qt::Key_F12).virtualKey, 123);
    const std::pair<int, int> named[] = {
        {Qt::Key_Return, 13},   {Qt::Key_Enter, 13}, {Qt::Key_Escape, 27}, {Qt::Key_Tab, 9},
        {Qt::Key_Backspace, 8}, {Qt::Key_Space, 32}, {Qt::Key_Left, 37},   {Qt::Key_Up, 38},
        {Qt::Key_Right, 39},    {Qt::Key_Down, 40},  {Qt::Key_Delete, 46}, {Qt::Key_Insert, 45},
        {Qt::Key_Home, 36},     {Qt::Key_End, 35},   {Qt::Key_PageUp, 33}, {Qt::Key_PageDown, 34},
    };
    for (const auto& [qt, vk] : named) {
        EXPECT_EQ(key(qt).virtualKey, vk) << "Qt key " << qt;
    }
}

TEST(KeyMapping, PunctuationReportsItsKeyShiftedOrNot) {
    const std::pair<int, int> keys[] = {
        {Qt::Key_Semicolon, 186},    {Qt::Key_Colon, 186},      {Qt::Key_Equal, 187},
        {Qt::Key_Plus, 187},         {Qt::Key_Comma, 188},      {Qt::Key_Less, 188},
        {Qt::Key_Minus, 189},        {Qt::Key_Underscore, 189}, {Qt::Key_Period, 190},
        {Qt::Key_Greater, 190},      {Qt::Key_Slash, 191},      {Qt::Key_Question, 191},
        {Qt::Key_QuoteLeft, 192},    {Qt::Key_AsciiTilde, 192}, {Qt::Key_BracketLeft, 219},
        {Qt::Key_BraceLeft, 219},    {Qt::Key_Backslash, 220},  {Qt::Key_Bar, 220},
        {Qt::Key_BracketRight, 221}, {Qt::Key_Apostrophe, 222}, {Qt::Key_QuoteDbl, 222},
        {Qt::Key_Exclam, 49},        {Qt::Key_ParenRight, 48},  {Qt::Key_Asterisk, 56},
    };
    for (const auto& [qt, vk] : keys) {
        EXPECT_EQ(key(qt, Qt::ShiftModifier).virtualKey, vk) << "Qt key " << qt;
    }
}

TEST(KeyMapping, KeypadReportsTheMainBlockCodes) {
    for (int digit = 0; digit <= 9; ++digit) {
        EXPECT_EQ(key(Qt::Key_0 + digit, Qt::KeypadModifier), (KeyReport{48 + digit, 0}));
    }
    EXPECT_EQ(key(Qt::Key_Minus, Qt::KeypadModifier).virtualKey, 189);
    EXPECT_EQ(key(Qt::Key_Period, Qt::KeypadModifier).virtualKey, 190);
    EXPECT_EQ(key(Qt::Key_Slash, Qt::KeypadModifier).virtualKey, 191);
    // The other keypad keys keep their own codes.
    EXPECT_EQ(key(Qt::Key_Asterisk, Qt::KeypadModifier).virtualKey, 106);
    EXPECT_EQ(key(Qt::Key_Plus, Qt::KeypadModifier).virtualKey, 107);
    EXPECT_EQ(key(Qt::Key_Enter, Qt::KeypadModifier).virtualKey, 13);
    // The keypad is not itself a modifier of the shift state.
    EXPECT_EQ(key(Qt::Key_5, Qt::KeypadModifier | Qt::ShiftModifier).shiftState, 2);

    // Where the platform gives Windows codes, numeric-keypad codes are folded the same way.
    EXPECT_EQ(mapKey(Qt::Key_7, Qt::KeypadModifier, true, 103u).virtualKey, 55);
    EXPECT_EQ(mapKey(Qt::Key_Minus, Qt::KeypadModifier, true, 109u).virtualKey, 189);
    EXPECT_EQ(mapKey(Qt::Key_Period, Qt::KeypadModifier, true, 110u).virtualKey, 190);
    EXPECT_EQ(mapKey(Qt::Key_Slash, Qt::KeypadModifier, true, 111u).virtualKey, 191);
    EXPECT_EQ(mapKey(Qt::Key_Asterisk, Qt::KeypadModifier, true, 106u).virtualKey, 106);
}

TEST(KeyMapping, ShiftStateAndModifierKeysThemselves) {
    EXPECT_EQ(key(Qt::Key_A, Qt::ControlModifier).shiftState, 1);
    EXPECT_EQ(key(Qt::Key_A, Qt::ShiftModifier).shiftState, 2);
    EXPECT_EQ(key(Qt::Key_A, Qt::AltModifier).shiftState, 4);
    EXPECT_EQ(key(Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier).shiftState,
              7);
    // A modifier is not reported as held in its own press, the others are.
    EXPECT_EQ(key(Qt::Key_Shift, Qt::ShiftModifier), (KeyReport{16, 0}));
    EXPECT_EQ(key(Qt::Key_Control, Qt::ControlModifier), (KeyReport{17, 0}));
    EXPECT_EQ(key(Qt::Key_Alt, Qt::AltModifier), (KeyReport{18, 0}));
    EXPECT_EQ(key(Qt::Key_Shift, Qt::ShiftModifier | Qt::ControlModifier), (KeyReport{16, 1}));
    EXPECT_EQ(key(Qt::Key_Alt, Qt::AltModifier | Qt::ShiftModifier), (KeyReport{18, 2}));
    // Left and right modifier codes from the platform report the generic key.
    EXPECT_EQ(mapKey(Qt::Key_Shift, Qt::ShiftModifier, false, 161u), (KeyReport{16, 0}));
    EXPECT_EQ(mapKey(Qt::Key_Control, Qt::ControlModifier, false, 162u), (KeyReport{17, 0}));

    EXPECT_EQ(shiftState(Qt::ControlModifier | Qt::AltModifier), 5);
    EXPECT_EQ(shiftState(Qt::MetaModifier | Qt::KeypadModifier), 0);
}

TEST(KeyMapping, FromAKeyEvent) {
    const QKeyEvent enter(QEvent::KeyPress, Qt::Key_Enter,
                          Qt::KeypadModifier | Qt::ControlModifier);
    EXPECT_EQ(mapKeyEvent(enter), (KeyReport{13, 1}));
    const QKeyEvent divide(QEvent::KeyPress, Qt::Key_Slash, Qt::KeypadModifier);
    EXPECT_EQ(mapKeyEvent(divide), (KeyReport{191, 0}));
    const QKeyEvent unknown(QEvent::KeyPress, Qt::Key_Launch0, Qt::NoModifier);
    EXPECT_EQ(mapKeyEvent(unknown).virtualKey, 0);
}
