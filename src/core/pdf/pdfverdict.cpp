#include "core/pdf/pdfverdict.h"

using pdfverdict::Damage;
using pdfverdict::State;
using pdfverdict::Unchecked;

namespace {

constexpr const char *kStateWords[] = {"whole", "repaired", "encrypted", "damaged", "not checked"};

} // namespace

QString pdfStateWord(State state)
{
    return QString::fromLatin1(kStateWords[int(state)]);
}

State pdfStateFromWord(const QString &word)
{
    for (int i = 0; i < int(std::size(kStateWords)); ++i) {
        if (word == QLatin1String(kStateWords[i]))
            return State(i);
    }
    return State::NotChecked;
}

QString pdfVerdictCause(const PdfVerdict &verdict)
{
    switch (verdict.unchecked) {
    case Unchecked::None:
        break;
    case Unchecked::TimedOut:
        return QStringLiteral("the check took too long");
    case Unchecked::OutOfMemory:
        return QStringLiteral("the check needed too much memory");
    case Unchecked::CheckerFailed:
        return QStringLiteral("the checker failed");
    case Unchecked::Unreadable:
        return QStringLiteral("the file could not be read");
    }
    switch (verdict.damage) {
    case Damage::None:
        return {};
    case Damage::NotPdf:
        return QStringLiteral("no PDF header");
    case Damage::CannotOpen:
        return QStringLiteral("cannot be opened, even with repair");
    case Damage::NoPages:
        return QStringLiteral("no pages");
    case Damage::MissingData:
        return QStringLiteral("refers to data that is not in the file");
    case Damage::BadStream:
        return QStringLiteral("a content stream cannot be decoded");
    case Damage::CutShort:
        return QStringLiteral("cut short: no end-of-file marker");
    case Damage::BadPageTree:
        return QStringLiteral("the page tree is not a tree");
    }
    return {};
}
