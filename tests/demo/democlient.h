#pragma once

// A client of the demo site for its tests: plain requests through Qt's access manager, raw exchanges
// over a socket, and readers of what comes back.

#include "demo/demosite.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPair>
#include <QTemporaryDir>

namespace democlient {

struct Fetched
{
    int status = 0;
    QString mediaType;
    QVariant contentLength;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return QByteArray();
    }
};

// What a finished reply brought; the reply is deleted later.
Fetched collect(QNetworkReply *reply);

// Whether the reply finished within the time.
bool waitFor(QNetworkReply *reply, int ms = 20000);

// A GET or a form POST through the access manager, waited for.
Fetched get(QNetworkAccessManager &nam, const QUrl &url);

Fetched post(QNetworkAccessManager &nam, const QUrl &url, const QByteArray &form);

// Sends raw bytes and reads until the server closes the connection (or the time is up). The site
// runs in this thread, so the socket is driven by an event loop, not by blocking waits.
QByteArray exchange(quint16 port, const QByteArray &request, bool *closed = nullptr, int ms = 10000);

struct RawAnswer
{
    QByteArray statusLine;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return QByteArray();
    }
    bool has(const QByteArray &name) const
    {
        for (const auto &pair : headers) {
            if (pair.first.compare(name, Qt::CaseInsensitive) == 0)
                return true;
        }
        return false;
    }
};

// The status line, headers and body of a raw answer.
RawAnswer splitAnswer(const QByteArray &raw);

// Decodes a chunked body; chunks counts the chunks met. Empty on a framing fault; with `ended`, a
// body cut after a whole chunk gives the chunks so far and *ended tells whether the last one came.
QByteArray dechunk(const QByteArray &body, int *chunks, bool *ended = nullptr);

// The parts of a result page that the program's extraction reads.
struct ResultPage
{
    int listDivs = 0;
    int tablesInList = 0;
    QList<QPair<QString, QString>> links; // address, text of each link inside the list
    QString nextHref;                     // the ">" link, if any
};

ResultPage readResultPage(const QString &html);

// Checks the parts of a PDF that readers rely on: the header, every cross-reference entry pointing at
// its object, the content stream length, startxref pointing at the table, and the end marker.
QString pdfFault(const QByteArray &pdf);

// Writes the bytes to a file of that name in the folder; its path.
QString saveTo(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes);

// A GET of a path with extra header lines, over a fresh connection that the server is asked to close.
RawAnswer rawGet(quint16 port, const QByteArray &path, const QByteArray &extraHeaders = QByteArray(),
                 bool *closed = nullptr, const QByteArray &version = "HTTP/1.1");

// The site every test of the demo site talks to, set back to its defaults before each test.
class DemoSiteFixture : public QObject
{
protected:
    DemoSite m_site;
    QNetworkAccessManager m_nam;
    QTemporaryDir m_dir;

    void reset();
    // A fetch of paper n as a resuming client makes it, keeping `have` bytes: the bytes that came,
    // and whether the answer ended properly.
    QPair<QByteArray, bool> fetchRest(int n, qint64 have);
};

} // namespace democlient
