#pragma once

#include "demo/demoflaky.h"
#include "demo/demohttp.h"
#include "demo/demopaper.h"
#include "demo/demoratelimit.h"

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
// "/about", "/logo.svg", "/verify" (see setVerifyAfter) and, when set, the large file at
// largeFileUrl().
//
// Files (papers answered 200 and the large file) carry an ETag and Accept-Ranges: a GET with one
// byte range is answered 206 with those bytes, one past the end 416, and one whose If-Range names
// another validator gets the whole file. Three switches make the site push back as busy sites do:
// a request limit, dropped transfers and a verification page.
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

    void setPageSize(int size);
    int pageSize() const { return m_pageSize; }
    void setPaperCount(int count);
    int paperCount() const { return m_paperCount; }
    int pageCount() const;

    void setRequireLogin(bool require);
    // The cards layout: the home address is the first result page in cards ("/cards/search?q=").
    // Both layouts are always served.
    void setCardsLayout(bool cards) { m_cardsLayout = cards; }
    bool requireLogin() const { return m_requireLogin; }
    void setAccount(const QString &account) { m_account = account; }
    QString account() const { return m_account; }
    void setPassword(const QString &password) { m_password = password; }
    QString password() const { return m_password; }
    static QString sessionCookieName();
    // Forgets every login, as when the site's sessions lapse.
    void clearSessions() { m_sessions.clear(); }

    // More than this many paper-file requests (/paper/N.pdf) in any minute are answered
    // "429 Too Many Requests" with Retry-After, the seconds until a request is admitted again;
    // 0 for no limit. Refused requests do not count. Time is Clock::current()'s monotonic reading.
    // Setting it starts a fresh minute.
    void setPaperLimit(int perMinute);
    int paperLimit() const { return m_limit.perMinute(); }

    // This percentage of paper transfers is dropped mid-body: the connection closes after part of
    // the body, deterministically from the seed (see DemoFlaky). A ranged transfer can be dropped
    // as well, but always further on, so every paper can be completed. Bodies that only the close
    // would end (UnsizedPdf papers, chunked ones to HTTP/1.0 clients) are never dropped. Setting
    // either value starts afresh.
    void setFlakyPercent(int percent);
    int flakyPercent() const { return m_flaky.percent(); }
    void setFlakySeed(quint64 seed);
    // Where the next GET of paper N's bytes from `from` to its end will be dropped, or -1.
    qint64 plannedCut(int number, qint64 from = 0) const;
    int droppedTransfers() const { return m_droppedTransfers; }
    // Body bytes of paper files sent so far (a dropped transfer as far as it went).
    qint64 paperBytesSent() const { return m_paperBytesSent; }

    // Once this many paper files have been served (to anyone), a paper-file request answers the
    // verification page (status 200, HTML, headed "请完成验证") unless it carries the cookie that
    // submitting the page's form (GET or POST /verify with "confirm") sets; verification is kept
    // per client, by that cookie. -1 (the default) for never; 0 from the first paper on.
    void setVerifyAfter(int papers);
    int verifyAfter() const { return m_verifyAfter; }
    static QString verificationCookieName();
    QUrl verifyUrl() const;
    // Paper files served (200 or 206 answers to GET) since the start or resetVerification().
    int papersServed() const { return m_papersServed; }
    // Forgets verified clients and counts served papers from zero again.
    void resetVerification();

    // Paper links answer the paper's own page (its landing page) instead of its file; the page names the
    // full text in one of the ways publishers do (landingFileUrl) or, for paper 5, not at all.
    void setLandingPages(bool on) { m_landingPages = on; }
    bool landingPages() const { return m_landingPages; }
    // The full-text address paper N's landing page names; empty for the page that names none.
    QUrl landingFileUrl(int number) const;

    DemoPaper paper(int number) const;
    QUrl paperLink(int number) const;     // the address in the result list: /paper/N
    QUrl paperFileUrl(int number) const;  // the link with ".pdf" appended: the file
    QString paperTitle(int number) const; // the link's text
    DemoPaperKind paperKind(int number) const;
    int paperStatus(int number) const;        // the HTTP status of the file's answer
    QString paperMediaType(int number) const; // its Content-Type without parameters
    QByteArray paperBytes(int number) const;  // its body, exactly as sent
    bool paperHasContentLength(int number) const;
    // The strong validator of its file: the same for the same bytes. Empty for a paper answered 404.
    QByteArray paperETag(int number) const;
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
    DemoResponse verifyPage(const DemoRequest &request);
    DemoResponse paperRequest(int number, const DemoRequest &request);
    DemoResponse paperFile(int number, const DemoRequest &request);
    DemoResponse landingPage(int number) const;
    DemoResponse largeFile(const DemoRequest &request) const;
    bool needsVerification(const DemoRequest &request) const;
    bool mayDrop(int number, const DemoRequest &request) const;
    std::optional<DemoBody> largeBody() const;
    bool isLoggedIn(const DemoRequest &request) const;

    QTcpServer *m_server;
    int m_pageSize = 10;
    bool m_cardsLayout = false;
    int m_paperCount = 25;
    bool m_requireLogin = false;
    QString m_account = QStringLiteral("demo");
    QString m_password = QStringLiteral("demo");
    QSet<QByteArray> m_sessions;
    DemoRateLimit m_limit;
    DemoFlaky m_flaky;
    int m_droppedTransfers = 0;
    qint64 m_paperBytesSent = 0;
    int m_verifyAfter = -1;
    bool m_landingPages = false;
    int m_papersServed = 0;
    QSet<QByteArray> m_verified;
    QString m_largePath;
    std::shared_ptr<const MiniPdf> m_largePdf;
    int m_connectionCount = 0;
    int m_requestCount = 0;
};
