#include "download/targetfile.h"

#include "common/filenames.h"
#include "download/downloadlistmodel.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

QString rowFilePath(const QString &folder, const QString &name, const QString &type)
{
    return type.isEmpty() ? folder + name : folder + name + u'.' + type;
}

QString withTrailingSlash(const QString &folder)
{
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

bool 确定是需要下载(DownloadListModel &model, int position, DuplicatePolicy policy, const QString &folder,
                    const QString &name, const QString &type)
{
    if (!model.isValidRow(position))
        return false;
    const QString path = rowFilePath(folder, FitNameForDisk(name, type), type);
    if (policy != DuplicatePolicy::Skip || !FileExists(path))
        return true;
    const QString length = QString::number(QFileInfo(path).size());
    model.setState(position, RowState::Done);
    model.setCell(position, DownloadListModel::ColSize, length);
    model.setCell(position, DownloadListModel::ColDownloaded, length);
    model.setCell(position, DownloadListModel::ColPercent, rowtext::Skipped);
    return false;
}

namespace {

QString counterText(qint64 i)
{
    return u'[' + QStringLiteral("%1").arg(i, 3, 10, QChar(u'0')) + u']';
}

} // namespace

QString 重命名保存路径(DuplicatePolicy policy, const QString &folderIn, const QString &nameIn, const QString &type,
                      QString *newName)
{
    const QString folder = withTrailingSlash(folderIn);
    QString name = FitNameForDisk(nameIn, type);
    QString path = rowFilePath(folder, name, type);
    QString chosen = name;
    if (policy != DuplicatePolicy::Overwrite && FileExists(path)) {
        qint64 i = 0;
        const qsizetype open = name.lastIndexOf(u'[');
        const qsizetype close = name.lastIndexOf(u']');
        if (open >= 0 && close > open) {
            double number = 0;
            if (LooksNumeric(TrimSpaces(name.mid(open + 1, close - open - 1)), &number)) {
                i = static_cast<qint64>(std::clamp(std::trunc(number), 0.0, 999999999.0));
                name = name.left(open);
            }
        }
        name.replace(u'[', QStringLiteral("『")).replace(u']', QStringLiteral("』"));
        auto candidateName = [&](qint64 counter) {
            if (counter == 0)
                return FitNameForDisk(name, type);
            const QString suffix = counterText(counter);
            return FitNameForDisk(name, type, static_cast<int>(suffix.toUtf8().size())) + suffix;
        };
        chosen = candidateName(i);
        path = rowFilePath(folder, chosen, type);
        while (FileExists(path)) {
            ++i;
            chosen = candidateName(i);
            path = rowFilePath(folder, chosen, type);
        }
    }
    if (newName)
        *newName = chosen;
    return path;
}
