#include "demo/demodoi.h"

#include "demo/demopages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

QByteArray indexAnswer(const QString &doi, const QUrl &fileAddress, const QUrl &landingPage)
{
    QJsonObject answer{{QStringLiteral("doi"), doi}, {QStringLiteral("is_oa"), fileAddress.isValid()}};
    QJsonArray locations;
    if (fileAddress.isValid()) {
        const QJsonObject location{{QStringLiteral("url_for_pdf"), fileAddress.toString()},
                                   {QStringLiteral("url_for_landing_page"), landingPage.toString()},
                                   {QStringLiteral("host_type"), QStringLiteral("publisher")}};
        answer.insert(QStringLiteral("best_oa_location"), location);
        locations.append(location);
    } else {
        answer.insert(QStringLiteral("best_oa_location"), QJsonValue::Null);
    }
    answer.insert(QStringLiteral("oa_locations"), locations);
    return QJsonDocument(answer).toJson(QJsonDocument::Compact);
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
