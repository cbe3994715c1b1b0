#pragma once

#include <QByteArray>
#include <QString>

// The Chinese multibyte code page of the history file, the export file and small downloaded pages.
// GB18030 is used: it is byte-identical to GBK for every GBK character and still round-trips the rest,
// so nothing a user types is lost on the way to disk.
namespace gbk {

QByteArray encode(const QString &text);
QString decode(const QByteArray &bytes);

// Bytes the character starting at text[i] takes in the code page (a surrogate pair counts as one character).
int charByteLength(const QString &text, qsizetype i);

// Longest prefix of text whose encoded form has at most maxBytes bytes; never splits a character.
QString cutToBytes(const QString &text, qsizetype maxBytes);

} // namespace gbk
