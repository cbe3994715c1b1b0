#pragma once

#include <QByteArray>
#include <QString>

class CandidateListModel;

// The list as the export writes it: "title-【type】status" per row, CR LF after each, in the code page.
QByteArray candidateExportBytes(const CandidateListModel &list);

// Writes the export; the file's length in bytes, or -1 when it could not be written.
qint64 writeCandidateExport(const CandidateListModel &list, const QString &path);

// "保存文件完毕：" + length / 1024 as #,##0.0 + "KB".
QString exportSavedMessage(qint64 bytes);

// A number with thousands separators and exactly one decimal, rounded half away from zero.
QString formatThousandsOneDecimal(double value);
