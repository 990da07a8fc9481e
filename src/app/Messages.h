#pragma once
// Message boxes of the windows. None of them blocks the window: each is opened window-modal and
// deletes itself when closed; the questions wait for the answer. A box appears centred over the
// window it belongs to; when that window is hidden (the update window before a release is found),
// over the program's visible window instead.

#include "app/QtText.h"
#include "common/Result.h"

#include <QMessageBox>
#include <QString>
#include <chrono>
#include <string_view>

namespace vantorel::app {

inline constexpr std::chrono::milliseconds kConfirmationTimeout{3000};

// The texts composed with "\r\n" line breaks, shown with plain ones.
QString displayText(std::string_view utf8);

// A message that deletes itself when closed, not shown yet, so that buttons can be added.
QMessageBox* makeMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text);

// A message with an OK button.
QMessageBox* showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text);

// A failure: the window shows the user's message alone; the technical detail goes to stderr.
QMessageBox* showFailure(QWidget* parent, const Error& error);

// A message that closes by itself after `timeout` (or earlier by its button).
QMessageBox* showTimedMessage(QWidget* parent, const QString& title, const QString& text,
                              std::chrono::milliseconds timeout = kConfirmationTimeout);

// A yes/no question, with an optional line that explains what the answer means; true when the
// answer is yes.
bool askYesNo(QWidget* parent, const QString& text, const QString& explanation = {});
// The same for a question whose yes loses something (a file, a part): no is the default, so
// Enter loses nothing.
bool askBeforeLosing(QWidget* parent, const QString& text, const QString& explanation = {});

// Whether the existing `file` may be replaced by a download.
bool confirmReplace(QWidget* parent, const QString& file);

} // namespace vantorel::app
