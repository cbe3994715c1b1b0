#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>
#include <optional>

struct DownloadRow;

// Reads an answer that is no paper but says where the paper is (a finder's JSON or page): the addresses
// it names, the full text's first, in the order to try them.
class AnswerReader
{
public:
    virtual ~AnswerReader() = default;
    virtual QStringList addressesIn(const QByteArray &answer, const QUrl &asked) const = 0;
};

// Where else a row's paper may be had when the address it asked gave no file: a row taken from a
// reference list has several ways to its full text (its own file address, the finders, the arXiv, the
// DOI's landing page), tried one after the other, each as a transfer of the queue's own.
class RowSources
{
public:
    struct Source
    {
        QString address;
        QString origin; // which way this is, for the record ("DOI resolver", a finder's name, ...)
        // Set when the address answers with where the paper is rather than with the paper: the answer
        // is read by it, never saved.
        std::shared_ptr<const AnswerReader> reader;
    };

    virtual ~RowSources() = default;
    // The way to try after the row's first `tried` ones gave no file; none when no way is left. Asked
    // when the row needs it, so that nothing is worked out for rows that never get there.
    virtual std::optional<Source> sourceAfter(const DownloadRow &row, int tried) = 0;
    // The reader of the row's own address, when that is a way whose answer says where the paper is.
    virtual std::shared_ptr<const AnswerReader> readerOf(const DownloadRow &row) = 0;
    // A page of the row's paper named no full text: the way the rules of the page's site make of the
    // page's address, when they make one (a publisher's "/doi/full/" page into its "/doi/pdf/" one).
    virtual std::optional<Source> fullTextOfPage(const DownloadRow &row, const QUrl &page)
    {
        Q_UNUSED(row);
        Q_UNUSED(page);
        return std::nullopt;
    }
};
