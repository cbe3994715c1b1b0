#pragma once

#include <QString>
#include <optional>

struct DownloadRow;

// Where else a row's paper may be had when the address it asked gave no file: a row taken from a
// reference list has several ways to its full text (its own file address, the finders, the arXiv, the
// DOI's landing page), tried one after the other, each as a transfer of the queue's own.
class RowSources
{
public:
    struct Source
    {
        QString address;
        QString origin; // which way this is, for the record ("doi.org", a finder's name, ...)
    };

    virtual ~RowSources() = default;
    // The way to try after the row's first `tried` ones gave no file; none when no way is left. Asked
    // when the row needs it, so that nothing is worked out for rows that never get there.
    virtual std::optional<Source> sourceAfter(const DownloadRow &row, int tried) = 0;
};
