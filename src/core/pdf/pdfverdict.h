#pragma once

#include "core/pdf/pdfverdictkinds.h"

#include <QMetaType>
#include <QString>

// The verdict on a finished file whose content is a PDF: whether a reader can open it as it is.
struct PdfVerdict
{
    using State = pdfverdict::State;
    using Damage = pdfverdict::Damage;
    using Unchecked = pdfverdict::Unchecked;

    State state = State::NotChecked;
    Damage damage = Damage::None;          // why a damaged file is damaged
    Unchecked unchecked = Unchecked::None; // why no verdict could be had
    int pages = -1;                        // -1 when not known
    QString detail;                        // the PDF library's own words, for the manifest and logs

    // Whole, repaired or encrypted: a paper a reader can open. A file that could not be checked is not
    // counted as damaged either.
    bool isPaper() const { return state != State::Damaged; }
    bool operator==(const PdfVerdict &) const = default;
};
Q_DECLARE_METATYPE(PdfVerdict)

// "whole", "repaired", "encrypted", "damaged", "not checked": the manifest's word for the verdict.
QString pdfStateWord(pdfverdict::State state);
// The verdict read back from its word; NotChecked for any other text.
pdfverdict::State pdfStateFromWord(const QString &word);
// What is wrong with a damaged file, or why a file was not checked: "cut short: no end-of-file marker",
// "no pages", "the check took longer than 30 s", ... Empty for a file with nothing to say.
QString pdfVerdictCause(const PdfVerdict &verdict);
