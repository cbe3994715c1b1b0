#include "core/transfer/landingtrails.h"

#include "core/queue/rownaming.h"

using Kind = FailureReason::Kind;

namespace {

// One form of an address for telling whether it was asked for already.
QString fetchedForm(const QUrl &url)
{
    return url.adjusted(QUrl::RemoveFragment | QUrl::NormalizePathSegments | QUrl::RemoveUserInfo)
        .toString(QUrl::FullyEncoded);
}

} // namespace

QString LandingTrails::addressOf(const DownloadRow &row) const
{
    const auto it = m_trails.constFind(row.id);
    return it != m_trails.cend() && !it->next.isEmpty() ? it->next : row.key;
}

void LandingTrails::takeDeclared(RowId id, const PaperMetadata &declared, bool namesFromLinks)
{
    m_rows.update(id, [&declared, namesFromLinks](DownloadRow &r) {
        r.declared = MergedMetadata(r.declared, declared);
        // The name follows all that is known of the paper now; the file takes it when it is fetched, under
        // the duplicate-name rule as any other.
        const QString named = NameFromWhatIsKnown(r, namesFromLinks);
        if (!named.isEmpty() && named != r.givenName) {
            r.name = named;
            r.givenName = named;
        }
    });
}

bool LandingTrails::follow(RowId id, TransferResult *result, bool namesFromLinks)
{
    const DownloadRow *row = m_rows.list().find(id);
    if (!row)
        return false;
    Trail &trail = m_trails[id];
    if (trail.pages == 0)
        trail.fetched.insert(fetchedForm(QUrl(row->key)));
    for (const QUrl &url : std::as_const(result->requested))
        trail.fetched.insert(fetchedForm(url));
    const LandingPage &page = result->landing;
    if (!page.metadata.title.isEmpty() || !page.metadata.cells.isEmpty())
        takeDeclared(id, page.metadata, namesFromLinks);
    if (!page.namesFullText()) {
        // The full text a page named came as a page again.
        if (trail.pages > 0)
            result->reason =
                FailureReason::of(Kind::WebPage, 0, QStringLiteral("the full text is a web page"));
        return false;
    }
    if (trail.fetched.contains(fetchedForm(page.fullText))) {
        result->reason =
            FailureReason::of(Kind::LandingWithoutFullText, 0,
                              QStringLiteral("its full text leads back to a page already fetched"));
        return false;
    }
    if (trail.pages >= MaxLandingPages) {
        result->reason = FailureReason::of(
            Kind::WebPage, 0, QStringLiteral("more than %1 landing pages in a row").arg(MaxLandingPages));
        return false;
    }
    ++trail.pages;
    trail.next = page.fullText.toString(QUrl::FullyEncoded);
    const QString landing =
        (result->finalUrl.isValid() ? result->finalUrl : QUrl(addressOf(*row))).toString(QUrl::FullyEncoded);
    const QString next = trail.next;
    m_rows.update(id, [&landing, &next](DownloadRow &r) {
        r.state = RowState::Waiting;
        r.clearProgress();
        r.reason = {};
        r.landingPage = landing;
        r.fileAddress = next;
    });
    return true;
}
