#include "core/search/savedpage.h"

#include "core/common/gbk.h"
#include "core/common/regularfile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStringDecoder>

namespace {

bool namesChineseCodePage(const QByteArray &bytes)
{
    static const QRegularExpression gb(QStringLiteral("charset\\s*=\\s*[\"']?\\s*(gb2312|gbk|gb18030)"),
                                       QRegularExpression::CaseInsensitiveOption);
    return gb.match(QString::fromLatin1(bytes.first(std::min<qsizetype>(bytes.size(), 4096)))).hasMatch();
}

QString pageText(const QByteArray &bytes)
{
    const std::optional<QStringConverter::Encoding> named = QStringConverter::encodingForHtml(bytes);
    if (!named && namesChineseCodePage(bytes))
        return gbk::decode(bytes);
    QStringDecoder decoder(named.value_or(QStringConverter::Utf8));
    return decoder.decode(bytes);
}

} // namespace

SavedPage ReadSavedPage(const QString &path)
{
    SavedPage page;
    const RegularFileRead file = ReadRegularFile(path, SavedPage::MaxBytes);
    switch (file.failure) {
    case RegularFileRead::Failure::None:
        page.html = pageText(file.bytes);
        break;
    case RegularFileRead::Failure::CannotOpen:
        page.error = QStringLiteral("the page %1 cannot be read: %2").arg(path, file.systemError);
        break;
    case RegularFileRead::Failure::NotRegular:
        page.error = QStringLiteral("the page %1 is not a regular file").arg(path);
        break;
    case RegularFileRead::Failure::TooLarge:
        page.error =
            QStringLiteral("the page %1 is larger than %2 MiB").arg(path).arg(SavedPage::MaxBytes >> 20);
        break;
    }
    return page;
}

QString replaceDocumentScript(const QString &html)
{
    const QString text = QString::fromUtf8(QJsonDocument(QJsonArray{html}).toJson(QJsonDocument::Compact));
    return QStringLiteral("(function (html) {"
                          " var parsed = new DOMParser().parseFromString(html, 'text/html');"
                          " document.replaceChild(document.adoptNode(parsed.documentElement),"
                          " document.documentElement);"
                          " return document.getElementsByTagName('*').length; })(%1[0])")
        .arg(text);
}
