#pragma once

#include <QString>
#include <functional>
#include <optional>

class QWidget;

// The search window's own modal questions, replaceable so tests can answer them.
namespace searchdialogs {

// Text input box; nullopt when cancelled.
using InputBoxFunction =
    std::function<std::optional<QString>(QWidget *parent, const QString &prompt, const QString &title)>;
// Save-file dialog for "*.txt" offering a proposed name; the chosen path, or empty text when cancelled.
using SaveFileFunction = std::function<QString(QWidget *parent, const QString &proposedPath)>;

// Each installer returns the function it replaces; an empty function restores the real dialog.
InputBoxFunction setInputBox(InputBoxFunction function);
SaveFileFunction setSaveFileDialog(SaveFileFunction function);

std::optional<QString> inputBox(QWidget *parent, const QString &prompt, const QString &title);
QString saveFileDialog(QWidget *parent, const QString &proposedPath);

} // namespace searchdialogs
