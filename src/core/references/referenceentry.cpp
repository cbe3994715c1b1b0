#include "core/references/referenceentry.h"

QString EntryProblemText(EntryProblem problem)
{
    switch (problem) {
    case EntryProblem::None:
        break;
    case EntryProblem::NothingUsable:
        return QStringLiteral("names no DOI, arXiv id or web address");
    case EntryProblem::NotADoi:
        return QStringLiteral("its DOI is not a DOI");
    case EntryProblem::NotAnArxivId:
        return QStringLiteral("its arXiv id is not an arXiv id");
    case EntryProblem::CannotParse:
        return QStringLiteral("cannot be read");
    case EntryProblem::TooManyFields:
        return QStringLiteral("has more than three tab-separated fields");
    case EntryProblem::BadSourcePage:
        return QStringLiteral("its source page is not an http or https address");
    case EntryProblem::LineTooLong:
        return QStringLiteral("the line is too long");
    case EntryProblem::TooManyEntries:
        return QStringLiteral("the list has more entries than are read from one list");
    }
    return QString();
}

QString ReferenceFormatName(ReferenceFormat format)
{
    switch (format) {
    case ReferenceFormat::Unknown:
        break;
    case ReferenceFormat::Lines:
        return QStringLiteral("plain lines");
    case ReferenceFormat::BibTeX:
        return QStringLiteral("BibTeX");
    case ReferenceFormat::Ris:
        return QStringLiteral("RIS");
    case ReferenceFormat::CslJson:
        return QStringLiteral("CSL-JSON");
    case ReferenceFormat::Csv:
        return QStringLiteral("CSV");
    }
    return QStringLiteral("unknown");
}
