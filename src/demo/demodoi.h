#pragma once

#include "demo/demohttp.h"

#include <QString>
#include <QUrl>
#include <optional>

// The demo site answers as a DOI resolver: /doi/10.5555/demo.N leads to paper N's own address (its
// landing page when the site serves landing pages), the way a DOI's resolver leads to a publisher.
namespace demodoi {

inline const QString Prefix = QStringLiteral("10.5555/demo.");
inline const QString ResolverPath = QStringLiteral("/doi/");

// The DOI the demo site gives paper N: "10.5555/demo.N".
QString doiOf(int number);
// The paper a /doi/ path names (its DOI in any letter case, percent-encoded or not); 0 for none.
int paperOfPath(const QString &path);
// The redirect to the paper's address, or a 404 page for a DOI the site does not know. None when the
// path is not a resolver's.
std::optional<DemoResponse> answer(const QString &path, int paperCount, const QUrl &paperAddress);

// The demo site's open-access index: /oa/10.5555/demo.N answers in the JSON shape of a public index
// ({"doi", "is_oa", "best_oa_location": {"url_for_pdf", "url_for_landing_page"}, "oa_locations": [...]}),
// with no location for a paper whose page offers no full text.
inline const QString IndexPath = QStringLiteral("/oa/");
QByteArray indexAnswer(const QString &doi, const QUrl &fileAddress, const QUrl &landingPage);

} // namespace demodoi
