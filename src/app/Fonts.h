#pragma once
// Fonts of the stored description. Face names the system may lack (黑体, 微软雅黑) are kept
// as the first choice, with an installed CJK face behind them so Chinese always renders.

#include "app/WindowDescription.h"

#include <QFont>
#include <QString>

namespace vantorel::app {

// The face used where no face is stored: an installed CJK face, else the application's.
QString defaultFace();

// The system's default GUI font: the default face at 12 pixels, normal weight.
QFont defaultGuiFont();

QFont makeFont(const FontSpec& spec);

} // namespace vantorel::app
