#include "core/transfer/landingtrails.h"

#include "core/rows/rownaming.h"
#include "core/rows/rowrenaming.h"
#include "core/transfer/retrypolicy.h"

using Kind = FailureReason::Kind;

namespace {

// One form of an address for telling whether it was asked for already.
QString fetchedForm(const QUrl &url)
{
    return url.adjusted(QUrl::RemoveFragment | QUrl::NormalizePathSegments | QUrl::RemoveUserInfo)
        .toString(QUrl::FullyEncoded);
}

FailureReason refused(FullTextRefusal why, const QString &detail = {})
{
    return FailureReason::of(Kind::FullTextRefused, static_cast<int>(why), detail);
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

FailureReason LandingTrails::refusal(const Trail &trail, const TransferResult &result, const QUrl &asked)
{
    const LandingPage &page = result.landing;
    if (!page.namesFullText()) {
        // The full text a page named came as a web page. The paper's own page again, or a page that asks
        // nothing of the user, says the full text is not there; one with a form or a login may be a wall.
        if (trail.pages == 0 || result.reason.kind == Kind::FullTextRefused)
            return result.reason;
        if (page.declaresPaper || !result.wallPage)
            return refused(FullTextRefusal::WebPage);
        return FailureReason::of(Kind::WebPage, 0, QStringLiteral("the full text is a web page"));
    }
    if (fetchedForm(page.fullText) == fetchedForm(asked))
        return refused(FullTextRefusal::PageItself);
    if (trail.fetched.contains(fetchedForm(page.fullText)))
        return refused(FullTextRefusal::AskedBefore);
    if (trail.pages >= MaxLandingPages)
        return refused(FullTextRefusal::TooManyPages, QString::number(MaxLandingPages));
    return {};
}

bool LandingTrails::follow(RowId id, TransferResult *result, bool namesFromLinks, RowSources *sources)
{
    const DownloadRow *row = m_rows.list().find(id);
    if (!row)
        return false;
    Trail &trail = m_trails[id];
    if (trail.pages == 0)
        trail.fetched.insert(fetchedForm(QUrl(row->key)));
    for (const QUrl &url : std::as_const(result->requested))
        trail.fetched.insert(fetchedForm(url));
    const QUrl landing = result->finalUrl.isValid() ? result->finalUrl : QUrl(addressOf(*row));
    // A finder's answer is no page of the paper's: the row names none for it.
    const bool answered = trail.reader != nullptr;
    if (answered)
        readAnswer(trail, result, landing);
    if (!result->landing.metadata.title.isEmpty() || !result->landing.metadata.cells.isEmpty())
        takeDeclared(id, result->landing.metadata, namesFromLinks);
    const QString ruled = answered ? QString() : pointByRules(*row, trail, result, landing, sources);
    if (const FailureReason refusedBy = refusal(trail, *result, landing); !refusedBy.isNone()) {
        result->reason = refusedBy;
        return false;
    }
    if (!result->landing.namesFullText())
        return false;
    ++trail.pages;
    trail.next = result->landing.fullText.toString(QUrl::FullyEncoded);
    const QString page = answered ? QString() : landing.toString(QUrl::FullyEncoded);
    const QString next = trail.next;
    m_rows.update(id, [&page, &next, &ruled](DownloadRow &r) {
        if (!ruled.isEmpty())
            r.origin = ruled;
        r.state = RowState::Waiting;
        r.clearProgress();
        r.reason = {};
        r.landingPage = page;
        r.fileAddress = next;
    });
    return true;
}

bool LandingTrails::goOnToNextSource(RowId id, const TransferResult &result, RowSources *sources)
{
    const DownloadRow *row = m_rows.list().find(id);
    // A wall (a verification, a login) is met as on any other row: the queue may have to pause for it.
    // A row stopped, or without a folder, would meet the same on every way.
    const Kind kind = result.reason.kind;
    if (!sources || !row || kind == Kind::Stopped || kind == Kind::NoFolder || kind == Kind::Disk ||
        retrypolicy::LooksLikeAWall(result.reason, result.retryAfterMs))
        return false;
    Trail &trail = m_trails[id];
    const std::optional<RowSources::Source> next = sources->sourceAfter(*row, trail.sources);
    if (!next)
        return false;
    // What the earlier way asked stays asked: an address met again on this way is not fetched twice.
    trail.next = next->address;
    trail.reader = next->reader;
    trail.pages = 0;
    ++trail.sources;
    m_rows.update(id, [&next](DownloadRow &r) {
        r.state = RowState::Waiting;
        r.clearProgress();
        r.reason = {};
        r.retry = 0;
        r.landingPage.clear();
        r.fileAddress.clear();
        r.origin = next->origin;
    });
    return true;
}

void LandingTrails::readAnswer(Trail &trail, TransferResult *result, const QUrl &asked)
{
    const std::shared_ptr<const AnswerReader> reader = std::exchange(trail.reader, nullptr);
    const QStringList addresses = reader->addressesIn(result->answer, asked);
    result->answer.clear();
    result->landing = {};
    if (!addresses.isEmpty()) {
        result->landing.fullText = QUrl(addresses.first());
        return;
    }
    // Nothing named: this way offers no full text, which is the answer, not a wall.
    result->reason = FailureReason::of(Kind::LandingWithoutFullText);
}

QString LandingTrails::pointByRules(const DownloadRow &row, const Trail &trail, TransferResult *result,
                                    const QUrl &page, RowSources *sources)
{
    // Only the way's own page, neither a wall nor a login, and only one that named nothing at all.
    const LandingPage &landing = result->landing;
    const Kind kind = result->reason.kind;
    if (!sources || trail.pages > 0 || landing.namesFullText() || landing.refusedTarget ||
        (kind != Kind::LandingWithoutFullText && kind != Kind::WebPage) ||
        (!landing.declaresPaper && (result->loginPage || result->wallPage)))
        return {};
    const std::optional<RowSources::Source> way = sources->fullTextOfPage(row, page);
    if (!way)
        return {};
    result->landing.fullText = QUrl(way->address);
    return way->origin;
}

bool LandingTrails::readsAnswer(const DownloadRow &row, RowSources *sources)
{
    if (const auto it = m_trails.constFind(row.id); it != m_trails.cend())
        return it->reader != nullptr;
    std::shared_ptr<const AnswerReader> reader = sources ? sources->readerOf(row) : nullptr;
    if (!reader)
        return false;
    m_trails[row.id].reader = std::move(reader);
    return true;
}
