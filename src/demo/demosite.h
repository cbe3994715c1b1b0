#pragma once

#include "demo/democatalogpages.h"
#include "demo/demofaults.h"
#include "demo/demohttp.h"
#include "demo/demolargefile.h"
#include "demo/demologin.h"
#include "demo/demopaper.h"

#include <QObject>
#include <QUrl>
#include <optional>

class QTcpServer;

// The sample literature site that comes with the program, served on 127.0.0.1.
//
// Pages: "/" (search form and introduction), the paper catalogue's pages (catalog(): result pages,
// "/paper/N" and its file "/paper/N.pdf", landing pages), "/login" (login()), "/about", "/logo.svg",
// "/verify" (faults()) and, when set, the large file at largeFileUrl() (largeFile()). Paper files can be
// pushed back as busy sites do (faults()) or kept for those who have logged in (login()).
//
// Papers are numbered 1..paperCount(); the accessors below tell what each one is and what exactly
// the site sends for it, so tests and benchmarks can check a download against them.
class DemoSite : public QObject
{
    Q_OBJECT

public:
    explicit DemoSite(QObject *parent = nullptr);
    ~DemoSite() override;

    // Listens on 127.0.0.1 at the port, or at a free one for 0. Stops listening first when it already was.
    bool listen(quint16 port = 0);
    // Listens at the port written in the file when it is free, else at a free one, and writes the port
    // taken back into the file: addresses of a list saved in one run still reach the site in the next.
    bool listenAtRememberedPort(const QString &portFile);
    void close();
    bool isListening() const;
    quint16 port() const;
    QString errorString() const;

    QUrl homeUrl() const;
    QUrl searchUrl(const QString &query, int page = 1) const;
    QUrl loginUrl() const;
    QUrl verifyUrl() const;
    QUrl largeFileUrl() const;
    QUrl paperLink(int number) const;    // the address in the result list: /paper/N
    QUrl paperFileUrl(int number) const; // the link with ".pdf" appended: the file
    // The full-text address paper N's landing page names; empty for the page that names none.
    QUrl landingFileUrl(int number) const;

    void setPageSize(int size) { m_catalog.setPageSize(size); }
    int pageSize() const { return m_catalog.pageSize(); }
    void setPaperCount(int count) { m_catalog.setPaperCount(count); }
    int paperCount() const { return m_catalog.paperCount(); }
    void setCardsLayout(bool cards) { m_catalog.setCardsLayout(cards); }
    void setDefsLayout(bool defs) { m_catalog.setDefsLayout(defs); }

    DemoPaper paper(int number) const;
    QString paperTitle(int number) const; // the link's text
    DemoPaperKind paperKind(int number) const;
    int paperStatus(int number) const;       // the HTTP status of the file's answer
    QByteArray paperBytes(int number) const; // its body, exactly as sent

    DemoCatalogPages &catalog() { return m_catalog; }
    DemoLogin &login() { return m_login; }
    DemoFaults &faults() { return m_faults; }
    DemoLargeFile &largeFile() { return m_largeFile; }

    // Connections accepted and requests answered so far.
    int connectionCount() const { return m_connectionCount; }
    int requestCount() const { return m_requestCount; }

Q_SIGNALS:
    void requestServed(const QString &path, int status);

private:
    void acceptConnections();
    QUrl siteUrl(const QString &pathAndQuery) const;
    DemoResponse respond(const DemoRequest &request);
    // The site's own pages: home, result pages, login, verification, about, logo, the large file.
    std::optional<DemoResponse> sitePage(const DemoRequest &request);
    // A paper's page, its file, its full text behind a landing page, its DOI and the index's answer.
    DemoResponse paperRoute(const DemoRequest &request);
    DemoResponse paperRequest(int number, const DemoRequest &request);
    // The open-access index's answer about a DOI of the site.
    DemoResponse indexAnswer(const QString &path) const;

    QTcpServer *m_server;
    DemoCatalogPages m_catalog;
    DemoLogin m_login;
    DemoFaults m_faults;
    DemoLargeFile m_largeFile;
    int m_connectionCount = 0;
    int m_requestCount = 0;
};
