#include "app/batchmanifest.h"

#include "download/downloadlistmodel.h"
#include "download/targetfile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace batchmanifest {

namespace {
QString stateName(RowState state)
{
    switch (state) {
    case RowState::Waiting:
        return QStringLiteral("Waiting");
    case RowState::Downloading:
        return QStringLiteral("Downloading");
    case RowState::Done:
        return QStringLiteral("Done");
    case RowState::Failed:
        return QStringLiteral("Failed");
    }
    return QString();
}
} // namespace

QStringList header()
{
    return {QStringLiteral("address"), QStringLiteral("name"),  QStringLiteral("type"),
            QStringLiteral("state"),   QStringLiteral("size"),  QStringLiteral("path"),
            QStringLiteral("source"),  QStringLiteral("sha256")};
}

QStringList fields(const DownloadListModel &model, int position)
{
    const DownloadRow &row = model.row(position);
    QString size;
    QString path;
    QString hash;
    if (row.state == RowState::Done) {
        const QFileInfo file(rowFilePath(row.folder, row.name, row.type));
        if (file.isFile()) {
            path = file.absoluteFilePath();
            size = QString::number(file.size());
            hash = fileSha256(path);
        }
    }
    return {row.key, row.name, row.type, stateName(row.state), size, path, row.tag, hash};
}

QString csvField(const QString &text)
{
    const bool quote = text.contains(u',') || text.contains(u'"') || text.contains(u'\n') ||
                       text.contains(u'\r') ||
                       (!text.isEmpty() && (text.front().isSpace() || text.back().isSpace()));
    if (!quote)
        return text;
    QString escaped = text;
    escaped.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + escaped + u'"';
}

QString csvLine(const QStringList &fields)
{
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString &field : fields)
        quoted.append(csvField(field));
    return quoted.join(u',') + QStringLiteral("\r\n");
}

QString fileSha256(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

bool write(const QString &path, const DownloadListModel &model, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    QByteArray text = csvLine(header()).toUtf8();
    for (int i = 0; i < model.count(); ++i)
        text += csvLine(fields(model, i)).toUtf8();
    file.write(text);
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace batchmanifest
