#include "demo/demodoi.h"

#include "demo/demopages.h"

namespace demodoi {

QString doiOf(int number)
{
    return Prefix + QString::number(number);
}

int paperOfPath(const QString &path)
{
    if (!path.startsWith(ResolverPath))
        return 0;
    const QString doi = QUrl::fromPercentEncoding(path.mid(ResolverPath.size()).toUtf8());
    if (!doi.startsWith(Prefix, Qt::CaseInsensitive))
        return 0;
    bool ok = false;
    const int number = doi.mid(Prefix.size()).toInt(&ok);
    return ok && number > 0 ? number : 0;
}

std::optional<DemoResponse> answer(const QString &path, int paperCount, const QUrl &paperAddress)
{
    if (!path.startsWith(ResolverPath))
        return std::nullopt;
    const int number = paperOfPath(path);
    if (number < 1 || number > paperCount)
        return DemoResponse::html(404, DemoPages::notFound());
    DemoResponse response = DemoResponse::html(302, QString());
    response.headers.emplaceBack("Location", paperAddress.toEncoded());
    return response;
}

} // namespace demodoi
