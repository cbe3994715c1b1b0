#include "ui/searchdialogs.h"

#include "core/common/messenger.h"

#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <utility>

namespace searchdialogs {
namespace {
InputBoxFunction &inputBoxFunction()
{
    static InputBoxFunction function;
    return function;
}

SaveFileFunction &saveFileFunction()
{
    static SaveFileFunction function;
    return function;
}

std::optional<QString> realInputBox(QWidget *parent, const QString &prompt, const QString &title)
{
    bool ok = false;
    const QString text = QInputDialog::getText(parent, title.isEmpty() ? kAppTitle : title, prompt,
                                               QLineEdit::Normal, QString(), &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

QString realSaveFileDialog(QWidget *parent, const QString &proposedPath)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QStringLiteral("*.txt (*.txt)"));
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    if (!proposedPath.isEmpty())
        dialog.selectFile(proposedPath);
    else
        dialog.setDirectory(QDir::homePath()); // not wherever the program happened to be started
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}
} // namespace

InputBoxFunction Seat::setInputBox(InputBoxFunction function)
{
    return std::exchange(inputBoxFunction(), std::move(function));
}

SaveFileFunction Seat::setSaveFileDialog(SaveFileFunction function)
{
    return std::exchange(saveFileFunction(), std::move(function));
}

std::optional<QString> inputBox(QWidget *parent, const QString &prompt, const QString &title)
{
    if (const InputBoxFunction &f = inputBoxFunction())
        return f(parent, prompt, title);
    return realInputBox(parent, prompt, title);
}

QString saveFileDialog(QWidget *parent, const QString &proposedPath)
{
    if (const SaveFileFunction &f = saveFileFunction())
        return f(parent, proposedPath);
    return realSaveFileDialog(parent, proposedPath);
}

} // namespace searchdialogs
