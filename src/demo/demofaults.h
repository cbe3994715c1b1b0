#pragma once

#include "demo/demoflaky.h"
#include "demo/demohttp.h"
#include "demo/demoratelimit.h"

#include <QSet>
#include <QString>
#include <optional>

// How the demo site pushes back on paper-file requests as busy sites do: a request limit, dropped
// transfers and a verification page. All three are off until set.
class DemoFaults
{
public:
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
    // Paper files served (200 or 206 answers to GET) since the start or resetVerification().
    int papersServed() const { return m_papersServed; }
    // Forgets verified clients and counts served papers from zero again.
    void resetVerification();

    // The answer to "/verify": the page, or the confirmation its form sends.
    DemoResponse answerVerification(const DemoRequest &request);
    // What a paper-file request gets instead of the file: 429 over the limit, else the verification
    // page while the client is not verified; empty when it may have the file.
    std::optional<DemoResponse> refusal(const DemoRequest &request);
    // Counts the part of paper N's file that an answer to a GET carries, and drops the transfer when
    // its turn has come.
    void sendPaper(int number, const DemoRequest &request, const DemoSpan &span, DemoResponse &response);

private:
    bool needsVerification(const DemoRequest &request) const;

    DemoRateLimit m_limit;
    DemoFlaky m_flaky;
    int m_droppedTransfers = 0;
    qint64 m_paperBytesSent = 0;
    int m_verifyAfter = -1;
    int m_papersServed = 0;
    QSet<QByteArray> m_verified;
};
