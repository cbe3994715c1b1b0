#pragma once

#include <QString>
#include <QStringList>

// How the demo site answers a request for a paper's file.
enum class DemoPaperKind {
    Pdf,            // application/pdf with Content-Length: the ordinary case
    OctetStreamPdf, // a PDF sent as application/octet-stream
    Caj,            // CAJ reader file (starts C8 00 00 00), mislabelled application/pdf
    Kdh,            // KDH reader file (starts "KDH "), sent as application/kdh
    Nh,             // NH reader file (starts "HN\0\0"), sent as application/octet-stream
    ChunkedPdf,     // a PDF without Content-Length, chunked (close-delimited for HTTP/1.0 clients)
    UnsizedPdf,     // a PDF without Content-Length, ended by closing the connection
    ErrorPage,      // status 200, a small HTML page titled "404 Not Found"
    Missing,        // status 404
};

QString demoPaperKindName(DemoPaperKind kind);

// One paper of the demo literature site.
struct DemoPaper
{
    int number = 0;
    QString title;        // Chinese title, the text of the result list's link
    QString englishTitle; // shown as plain text beside it
    QStringList authors;
    QString source;
    int year = 0;
    DemoPaperKind kind = DemoPaperKind::Pdf;
};
