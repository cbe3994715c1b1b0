#include "app/batchmanifest.h"

#include "common/safetext.h"
#include "common/sha256.h"
#include "download/downloadlistmodel.h"
#include "download/targetfile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace batchmanifest {

namespace {
QString stateName(RowState state)
{
    switch (state) {
    case RowState::Waiting:
        return QStringLiteral("NotAttempted"); // a run that ends leaves waiting rows untried
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
    return {QStringLiteral("address"), QStringLiteral("name"),   QStringLiteral("type"),
            QStringLiteral("state"),   QStringLiteral("size"),   QStringLiteral("path"),
            QStringLiteral("source"),  QStringLiteral("sha256"), QStringLiteral("reason")};
}

QStringList fields(const DownloadListModel &model, int position)
{
    const DownloadRow &row = model.row(position);
    QString size;
    QString path;
    QString hash;
    if (row.state == RowState::Done) {
        const QFileInfo file(rowFilePath(row.folder, row.name, row.type));
        // A link is never the paper: its target, wherever it is, is neither measured nor hashed.
        if (file.isFile() && !file.isSymLink()) {
            path = file.absoluteFilePath();
            size = QString::number(file.size());
            hash = fileSha256(path);
        }
    }
    QString reason;
    if (row.state == RowState::Failed || row.state == RowState::Waiting)
        reason = reasonText(row.reason);
    if (row.state == RowState::Done && row.percentNote == PercentNote::Skipped)
        reason = QStringLiteral("already there, skipped");
    if (row.state == RowState::Done && row.percentNote == PercentNote::Held)
        reason = QStringLiteral("downloaded before");
    QStringList result{row.key, row.name, row.type, stateName(row.state), size, path, row.tag, hash, reason};
    // Addresses and names come from the site: no control character of theirs reaches the record.
    for (QString &field : result)
        field = ShowableText(field);
    return result;
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
    return Sha256OfFile(path);
}

namespace {
// Fields of CSV text as csvLine writes them: quoted fields may hold commas, quotes and line breaks.
QList<QStringList> parseCsv(const QString &text)
{
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text.at(i + 1) == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            row.append(std::exchange(field, QString()));
        } else if (c == u'\n' || c == u'\r') {
            if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
                ++i;
            row.append(std::exchange(field, QString()));
            rows.append(std::exchange(row, QStringList()));
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !row.isEmpty()) {
        row.append(field);
        rows.append(row);
    }
    return rows;
}
} // namespace

bool read(const QString &path, QList<QStringList> *rows, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.read(MaxReadBytes + 1);
    if (bytes.size() > MaxReadBytes) {
        *error = QStringLiteral("it is larger than %1 MiB").arg(MaxReadBytes >> 20);
        return false;
    }
    QList<QStringList> all = parseCsv(QString::fromUtf8(bytes));
    // Manifests written before the reason column came have the same fields without it.
    const QStringList fields = header();
    const QStringList older = fields.mid(0, fields.size() - 1);
    if (all.isEmpty() || (all.first() != fields && all.first() != older)) {
        *error = QStringLiteral("it does not start with the manifest's header line");
        return false;
    }
    const qsizetype width = all.first().size();
    all.removeFirst();
    rows->clear();
    for (QStringList row : std::as_const(all)) {
        if (row.size() != width)
            continue;
        while (row.size() < fields.size())
            row.append(QString());
        rows->append(row);
    }
    return true;
}

bool write(const QString &path, const DownloadListModel &model, QString *error)
{
    QByteArray text = csvLine(header()).toUtf8();
    for (int i = 0; i < model.count(); ++i)
        text += csvLine(fields(model, i)).toUtf8();

    // A fresh file beside the target (created exclusively, so no link planted there is followed),
    // then rename(2), which replaces whatever entry holds the name, a link included, and never writes
    // through it. QSaveFile would write to the file a link at the target points to.
    const QFileInfo target(path);
    QTemporaryFile file(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                        QStringLiteral(".XXXXXX"));
    if (!file.open()) {
        *error = file.errorString();
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                        QFileDevice::ReadOther);
    if (file.write(text) != text.size() || !file.flush()) {
        *error = file.errorString();
        return false;
    }
    if (::fsync(file.handle()) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    file.close();
    if (::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData()) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    file.setAutoRemove(false);
    return true;
}

} // namespace batchmanifest
