#include "core/search/candidateexport.h"

#include "core/common/gbk.h"
#include "core/search/candidatelistmodel.h"

#include <QFile>
#include <QSaveFile>
#include <cmath>

QByteArray candidateExportBytes(const CandidateListModel &list)
{
    QString text;
    for (int i = 0; i < list.count(); ++i) {
        const CandidateRow &row = list.row(i);
        text += row.title + QStringLiteral("-【") + row.type + QStringLiteral("】") + row.status +
                QStringLiteral("\r\n");
    }
    return gbk::encode(text);
}

qint64 writeCandidateExport(const CandidateListModel &list, const QString &path)
{
    // Written whole or not at all: a failed export leaves an earlier file of that name as it was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return -1;
    const QByteArray bytes = candidateExportBytes(list);
    if (file.write(bytes) != bytes.size() || !file.commit())
        return -1;
    return QFile(path).size();
}

QString formatThousandsOneDecimal(double value)
{
    const bool negative = value < 0;
    const qint64 tenths = std::llround(std::fabs(value) * 10.0);
    QString whole = QString::number(tenths / 10);
    for (qsizetype pos = whole.size() - 3; pos > 0; pos -= 3)
        whole.insert(pos, u',');
    return (negative && tenths != 0 ? QStringLiteral("-") : QString()) + whole + u'.' +
           QString::number(tenths % 10);
}

QString exportSavedMessage(qint64 bytes)
{
    return QStringLiteral("保存文件完毕：") + formatThousandsOneDecimal(static_cast<double>(bytes) / 1024.0) +
           QStringLiteral("KB");
}
