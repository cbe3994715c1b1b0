#pragma once

#include "demo/demohttp.h"
#include "demo/demopaper.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QUrl>

#include <memory>
#include <optional>

class MiniPdf;
class QTcpServer;

// The sample literature site that comes with the program, served on 127.0.0.1.
//
// Pages: "/" (search form and introduction), "/search?q=...&page=N" (result pages with the paper
// list and a ">" next-page link), "/paper/N" (a paper's page), "/paper/N.pdf" (its file, answered
// according to the paper's kind), "/login" (form with "username" and "password"; GET or POST),
// "/about", "/logo.svg" and, when set, the large file at largeFileUrl().
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
    void close();
    bool isListening() const;
    quint16 port() const;
    QString errorString() const;

    QUrl homeUrl() const;
    QUrl searchUrl(const QString &query, int page = 1) const;
    QUrl loginUrl() const;

    void setPageSize(int size);
    int pageSize() const { return m_pageSize; }
    void setPaperCount(int count);
    int paperCount() const { return m_paperCount; }
    int pageCount() const;

    void setRequireLogin(bool require);
    bool requireLogin() const { return m_requireLogin; }
    void setAccount(const QString &account) { m_account = account; }
    QString account() const { return m_account; }
    void setPassword(const QString &password) { m_password = password; }
    QString password() const { return m_password; }
    static QString sessionCookieName();
    // Forgets every login, as when the site's sessions lapse.
    void clearSessions() { m_sessions.clear(); }

    DemoPaper paper(int number) const;
    QUrl paperLink(int number) const;     // the address in the result list: /paper/N
    QUrl paperFileUrl(int number) const;  // the link with ".pdf" appended: the file
    QString paperTitle(int number) const; // the link's text
    DemoPaperKind paperKind(int number) const;
    int paperStatus(int number) const;       // the HTTP status of the file's answer
    QString paperMediaType(int number) const; // its Content-Type without parameters
    QByteArray paperBytes(int number) const;  // its body, exactly as sent
    bool paperHasContentLength(int number) const;
    QList<int> papersOfKind(DemoPaperKind kind) const;

    // A large file at largeFileUrl(), sent as application/pdf with Content-Length and streamed piece by
    // piece: either a file on disk or a generated PDF of (about) the given size.
    void setLargeFile(const QString &path);
    void setLargeFileSize(qint64 bytes);
    QUrl largeFileUrl() const;
    qint64 largeFileSize() const; // -1 when there is none
    QByteArray largeFileBytes(qint64 offset, qint64 length) const;

    // Connections accepted and requests answered so far.
    int connectionCount() const { return m_connectionCount; }
    int requestCount() const { return m_requestCount; }

Q_SIGNALS:
    void requestServed(const QString &path, int status);

private:
    void acceptConnections();
    QUrl siteUrl(const QString &pathAndQuery) const;
    DemoResponse respond(const DemoRequest &request);
    DemoResponse route(const DemoRequest &request);
    DemoResponse resultPage(const QUrl &url) const;
    DemoResponse loginPage(const DemoRequest &request);
    DemoResponse paperFile(int number, const DemoRequest &request) const;
    DemoResponse largeFile() const;
    std::optional<DemoBody> largeBody() const;
    bool isLoggedIn(const DemoRequest &request) const;

    QTcpServer *m_server;
    int m_pageSize = 10;
    int m_paperCount = 25;
    bool m_requireLogin = false;
    QString m_account = QStringLiteral("demo");
    QString m_password = QStringLiteral("demo");
    QSet<QByteArray> m_sessions;
    QString m_largePath;
    std::shared_ptr<const MiniPdf> m_largePdf;
    int m_connectionCount = 0;
    int m_requestCount = 0;
};
