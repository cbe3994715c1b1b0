#include "desktop/filedialogs.h"

#include "core/common/messenger.h"

#include <QFileDialog>
#include <utility>

namespace filedialogs {
namespace {

Function &current()
{
    static Function function;
    return function;
}

QString realDialog(QWidget *parent, const Request &request)
{
    QFileDialog dialog(parent, request.caption.isEmpty() ? kAppTitle : request.caption, request.startPath,
                       request.filter);
    const bool save = request.kind == Request::Kind::Save;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace

Function setFunction(Function function)
{
    return std::exchange(current(), std::move(function));
}

QString choose(QWidget *parent, const Request &request)
{
    if (const Function &f = current())
        return f(parent, request);
    return realDialog(parent, request);
}

} // namespace filedialogs
