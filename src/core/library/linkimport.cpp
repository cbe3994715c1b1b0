#include "core/library/linkimport.h"

#include "core/common/gbk.h"
#include "core/common/regularfile.h"
#include "core/common/safetext.h"

#include <QSet>
#include <QStringDecoder>
#include <QUrl>
#include <optional>

namespace {

QString decodeText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = gbk::decode(bytes);
    if (text.startsWith(QChar(0xfeff)))
        text.remove(0, 1);
    return text;
}

// The start of a line as it may be shown in a message: no controls, not too long.
QString excerptOf(const QString &line)
{
    const QString shown = WithoutCredentials(line);
    QString out = shown.left(120);
    for (QChar &c : out) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Format)
            c = u' ';
    }
    return shown.size() > 120 ? out + QStringLiteral("…") : out;
}

QString titleText(const QString &field)
{
    QString out = field;
    for (QChar &c : out) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u' ';
    }
    return out.trimmed();
}

} // namespace

bool IsWebAddress(const QString &text)
{
    for (QChar c : text) {
        if (c.isSpace() || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme == QStringLiteral("http") || scheme == QStringLiteral("https");
}

QString ImportProblem::text() const
{
    QString why;
    switch (kind) {
    case Kind::NotAnAddress:
        why = QStringLiteral("不是 http 或 https 地址");
        break;
    case Kind::TooManyFields:
        why = QStringLiteral("多于三个以制表符分开的字段");
        break;
    case Kind::BadSourcePage:
        why = QStringLiteral("来源网页不是 http 或 https 地址");
        break;
    case Kind::Duplicate:
        why = QStringLiteral("地址与前面的行重复");
        break;
    case Kind::TooLong:
        why = QStringLiteral("行太长");
        break;
    }
    return QStringLiteral("第 %1 行：%2：%3").arg(line).arg(why, excerpt);
}

namespace {

// One line of the list read into the link: the problem it has, if any (whether it repeats an earlier
// line is for the caller to tell).
std::optional<ImportProblem::Kind> readLinkLine(const QString &line, ImportedLink &link)
{
    if (line.size() > MaxImportLineLength)
        return ImportProblem::Kind::TooLong;
    const QStringList fields = line.split(u'\t');
    if (fields.size() > 3)
        return ImportProblem::Kind::TooManyFields;
    link.address = fields.size() == 1 ? fields.at(0).trimmed() : fields.at(1).trimmed();
    link.title = fields.size() == 1 ? QString() : titleText(fields.at(0));
    link.sourcePage = fields.size() == 3 ? fields.at(2).trimmed() : QString();
    if (!IsWebAddress(link.address))
        return ImportProblem::Kind::NotAnAddress;
    if (!link.sourcePage.isEmpty() && !IsWebAddress(link.sourcePage))
        return ImportProblem::Kind::BadSourcePage;
    return std::nullopt;
}

} // namespace

LinkImport ParseLinkList(const QByteArray &bytes)
{
    LinkImport result;
    const QString text = decodeText(bytes);
    QSet<QString> seen;
    int number = 0;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        QString line = text.mid(start, end - start);
        start = end + 1;
        ++number;
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.trimmed().startsWith(u'#'))
            continue;
        ImportedLink link;
        link.line = number;
        std::optional<ImportProblem::Kind> problem = readLinkLine(line, link);
        if (!problem && seen.contains(link.address))
            problem = ImportProblem::Kind::Duplicate;
        if (problem) {
            result.problems.append({number, *problem, excerptOf(line)});
            continue;
        }
        seen.insert(link.address);
        result.links.append(link);
    }
    return result;
}

LinkImport ReadLinkListFile(const QString &path)
{
    const RegularFileRead file = ReadRegularFile(path, MaxImportFileBytes);
    LinkImport result;
    switch (file.failure) {
    case RegularFileRead::Failure::None:
        return ParseLinkList(file.bytes);
    case RegularFileRead::Failure::CannotOpen:
        result.error = QStringLiteral("无法读取文件“%1”：%2").arg(path, file.systemError);
        break;
    case RegularFileRead::Failure::NotRegular:
        result.error = QStringLiteral("“%1”不是普通文件（是文件夹、管道或设备），没有读取。").arg(path);
        break;
    case RegularFileRead::Failure::TooLarge:
        result.error =
            QStringLiteral("文件“%1”太大（超过 %2 MB），没有读取。").arg(path).arg(MaxImportFileBytes >> 20);
        break;
    }
    return result;
}
