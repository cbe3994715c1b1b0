#pragma once

#include <QString>
#include <functional>
#include <optional>

class QWidget;
struct SearchDialogSeam;

// The search window's own modal questions, replaceable so tests can answer them.
namespace searchdialogs {

// Text input box; nullopt when cancelled.
using InputBoxFunction =
    std::function<std::optional<QString>(QWidget *parent, const QString &prompt, const QString &title)>;
// Save-file dialog for "*.txt" offering a proposed name; the chosen path, or empty text when cancelled.
using SaveFileFunction = std::function<QString(QWidget *parent, const QString &proposedPath)>;

std::optional<QString> inputBox(QWidget *parent, const QString &prompt, const QString &title);
QString saveFileDialog(QWidget *parent, const QString &proposedPath);

// Where stand-ins for the dialogs are put in place: only tests do, through the door in their support.
class Seat
{
    friend struct ::SearchDialogSeam;
    // Each installer returns the function it replaces; an empty function restores the real dialog.
    static InputBoxFunction setInputBox(InputBoxFunction function);
    static SaveFileFunction setSaveFileDialog(SaveFileFunction function);
};

} // namespace searchdialogs
