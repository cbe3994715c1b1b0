#pragma once

#include "core/references/finders.h"
#include "core/rows/rowsources.h"

#include <QList>
#include <memory>

// A finder's answer read for the addresses it names: the full text's first (by the finder's paths or
// its selector and attribute), then its landing page's, each once.
class FinderAnswerReader : public AnswerReader
{
public:
    explicit FinderAnswerReader(Finder finder) : m_finder(std::move(finder)) {}

    const Finder &finder() const { return m_finder; }
    QStringList addressesIn(const QByteArray &answer, const QUrl &asked) const override;

private:
    Finder m_finder;
};

using FinderReaders = QList<std::shared_ptr<const FinderAnswerReader>>;

// The readers of the finders, in their order.
FinderReaders ReadersOf(const QList<Finder> &finders);

// The finders a run asks, in order: those of the user's finders.json in the per-user data folder, then
// those of the file given (empty: none). A file that is there but cannot be used refuses the finders as
// a whole, with why (a missing finders.json is no fault).
FindersRead ReadRunFinders(const QString &givenFile);
// Where the user's own finders are kept.
QString UserFindersPath();
