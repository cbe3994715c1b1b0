#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Lists of papers to download, one per line: an address alone, "title<TAB>address", or
// "title<TAB>address<TAB>source page" (what the batch mode's --list prints). Blank lines and lines
// starting with "#" are passed over; every other line either gives a paper or is reported.

struct ImportedLink
{
    int line = 0;       // 1-based
    QString title;      // empty when the line gave none
    QString address;    // the paper's file address, taken as written (no ".pdf" is added)
    QString sourcePage; // empty when the line gave none
};

struct ImportProblem
{
    enum class Kind {
        NotAnAddress,  // not an absolute http or https address
        TooManyFields, // more than three tab-separated fields
        BadSourcePage, // the third field is not an http or https address
        Duplicate,     // the address was already given on an earlier line
        TooLong,       // a line longer than the limit
    };
    int line = 0;
    Kind kind = Kind::NotAnAddress;
    QString excerpt; // the start of the line, made safe to show

    // For the user, e.g. "第 3 行：不是 http 或 https 地址：ftp://x/1.pdf".
    QString text() const;
};

struct LinkImport
{
    QList<ImportedLink> links;
    QList<ImportProblem> problems;
    QString error; // the file could not be read at all; empty otherwise
};

// Longest line and largest file taken; anything beyond is reported, not read.
constexpr int MaxImportLineLength = 16 * 1024;
constexpr qint64 MaxImportFileBytes = 64 * 1024 * 1024;

// UTF-8 (with or without a byte-order mark); text that is not valid UTF-8 is read as GBK.
LinkImport ParseLinkList(const QByteArray &bytes);
LinkImport ReadLinkListFile(const QString &path);

// An absolute http or https address with a host and without white space or control characters.
bool IsWebAddress(const QString &text);
