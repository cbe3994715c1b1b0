#include "core/cache/filetype.h"

QString 从文件名和网址提取文件类型(const QString &text)
{
    static const QString scheme = QStringLiteral("://");
    QString s = text;
    const qsizetype first = s.indexOf(scheme, 0, Qt::CaseInsensitive);
    if (first >= 0) {
        const qsizetype afterFirst = first + scheme.size();
        const qsizetype second = s.indexOf(scheme, afterFirst, Qt::CaseInsensitive);
        s = second >= 0 ? s.mid(afterFirst, second - afterFirst) : s.mid(afterFirst);
    }

    s.replace(u'/', u'\\');
    const qsizetype lastSeparator = s.lastIndexOf(u'\\');
    if (lastSeparator >= 0)
        s = s.mid(lastSeparator + 1);

    static const QString stops = QStringLiteral("#\b\t\n\r:*<>|\"'=?");
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (stops.contains(s.at(i))) {
            s.truncate(i);
            break;
        }
    }

    const qsizetype dot = s.lastIndexOf(u'.');
    if (dot < 0)
        return {};
    const QString candidate = s.mid(dot + 1).trimmed();
    return candidate.size() <= 6 ? candidate : QString();
}
