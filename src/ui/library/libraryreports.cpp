#include "ui/library/libraryreports.h"

#include "ui/library/librarytexts.h"

QString downloadAgainText(const AgainTally &tally)
{
    QStringList parts;
    parts.append(QStringLiteral("已加入下载列表 %1 篇").arg(tally.added + tally.reset));
    if (tally.held > 0)
        parts.append(QStringLiteral("%1 篇文件完好，未重新下载").arg(tally.held));
    if (tally.noFolder > 0)
        parts.append(QStringLiteral("%1 篇没有保存文件夹（请先设置默认保存路径）").arg(tally.noFolder));
    return parts.join(QStringLiteral("，")) + QStringLiteral("。");
}

QString keptFileText(KeptFile why)
{
    switch (why) {
    case KeptFile::Shared:
        return QStringLiteral("其他文献也使用这个文件");
    case KeptFile::Link:
        return QStringLiteral("路径中有符号链接");
    case KeptFile::NotOurs:
        return QStringLiteral("不是本程序下载的文件，或已被改动");
    case KeptFile::NotDeleted:
        return QStringLiteral("系统拒绝删除");
    }
    return {};
}

QString removalText(const RemovalReport &report)
{
    QString text = QStringLiteral("已从文献库移除 %1 篇").arg(report.removed);
    if (!report.deleted.isEmpty())
        text += QStringLiteral("，删除文件 %1 个").arg(report.deleted.size());
    text += QStringLiteral("。");
    for (const auto &[path, why] : report.kept)
        text += QStringLiteral("\n未删除 %1：%2").arg(shownLine(path), keptFileText(why));
    return text;
}

QString checkReportText(const LibraryCheckReport &report)
{
    if (!report.written && report.checked == 0)
        return report.error;
    int missing = 0;
    int damaged = 0;
    for (const FileProblem &p : report.problems) {
        if (p.kind == FileProblem::Kind::Missing)
            ++missing;
        else if (p.kind != FileProblem::Kind::NotChecked)
            ++damaged;
    }
    QString text = report.stopped ? QStringLiteral("检查已停止：已检查 %1 / %2 个文件")
                                  : QStringLiteral("检查完毕：共 %1 个文件").arg(report.checked);
    if (report.stopped)
        text = text.arg(report.checked).arg(report.files);
    text += QStringLiteral("，缺失 %1 个，已损坏或被改动 %2 个。").arg(missing).arg(damaged);
    if (!report.written)
        text += u'\n' + report.error;
    return text;
}
