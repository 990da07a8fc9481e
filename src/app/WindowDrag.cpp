#include "app/WindowDrag.h"

namespace vantorel::app {

bool pressMovesWindow(ControlKind kind) {
    switch (kind) {
    case ControlKind::Label:
    case ControlKind::TransparentLabel:
    case ControlKind::PictureBox:
    case ControlKind::ProgressBar:
    case ControlKind::ShapeBox:
        return true;
    case ControlKind::Button:
    case ControlKind::ImageButton:
    case ControlKind::ReportList:
    case ControlKind::HtmlView:
    case ControlKind::EditBox:
        return false;
    }
    return false;
}

} // namespace vantorel::app
