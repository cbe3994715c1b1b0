#pragma once

#include "core/library/landingpage.h"
#include "core/rows/downloadlistmodel.h"
#include "core/transfer/transferbody.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>

class PdfChecker;
class QNetworkAccessManager;
class QNetworkReply;
class SiteRulesCatalog;
struct SiteRules;

// What the single connection reports in the third status panel, in the order a request goes through.
enum class ConnectionState {
    None = 0,
    Resolving = 1,
    Resolved = 2,
    Connecting = 3,
    Connected = 4,
    Sending = 5,
    Sent = 6,
    Receiving = 7,
    Received = 8,
    Closing = 9,
    Closed = 10,
    Error = 11,
    Complete = 12,
};

// How a transfer behaves: one connection at a time (the single-connection rules: a Referer naming the
// file's site, only a " 200 OK" answer, the media type naming the file's type, the type repaired from
// the content) or one of the parallel slots (any successful answer, a small answer tested for an error
// page, a second try on a request of its own when the answer is empty).
struct TransferOptions
{
    bool singleConnection = false;
    bool expectPaper = true;      // a web page in the answer is a failure, not a file
    bool replaceExisting = false; // the file may replace one of the same name (overwrite)
    int headerTimeoutMs = 30000;  // no answer within this time fails the transfer
    int stallWindowMs = 60000;    // fewer than stallMinBytes within this time is a stall
    qint64 stallMinBytes = 1024;
    int maxRedirects = 10;
    // The answer says where the paper is (a finder's): unless it is a paper itself it is read into
    // TransferResult::answer and never saved.
    bool readsAnswer = false;
    // The file the row wrote before: a file put under that very name replaces it while it is still that
    // file, whatever replaceExisting says (the new copy takes the place of the old).
    OwnedFile earlierCopy;
    // The site rules that say which answers are no paper (an error or login page, a wall); the built-in
    // files alone when none are given. The catalog outlives the transfer.
    const SiteRulesCatalog *siteRules = nullptr;
    // Checks the structure of a finished file that is a PDF before it takes its name (none: no check).
    PdfChecker *pdfChecker = nullptr;
};

// How a transfer ended: exactly one of these per transfer.
struct TransferResult
{
    bool done = false;
    FailureReason reason;               // when not done
    bool answered = false;              // the server's answer (status and headers) arrived
    bool stamped = true;                // the end counts as a file's end for the pause between files
    SizeNote sizeNote = SizeNote::None; // a text for the size cell
    bool clearPercent = false;          // the percent cell is emptied
    qint64 received = 0;                // bytes of the file
    qint64 total = -1;                  // the length the answer stated for the file, -1 none
    QString path;                       // the finished file
    FileIdentity identity;              // which file that is (the transfer wrote it)
    QByteArray sha256;                  // its content's SHA-256 (32 bytes) as written; empty when not known
    QString name;                       // the row's name and type that go with the file
    QString type;
    qint64 retryAfterMs = -1; // the server's Retry-After, -1 when it gave none
    QUrl finalUrl;            // where the answer came from at last (after redirects)
    ResumePoint resume;       // bytes kept for another try (a transient failure only)
    bool resumed = false;     // the answer continued bytes kept by an earlier try
    QList<QUrl> requested;    // every address asked for, redirects included
    bool pageRead = false;    // a web page came and was read for its full text and metadata
    LandingPage landing;      // what that page declares
    QByteArray answer;        // with readsAnswer: the answer that came, when it was no paper
    bool loginPage = false;   // the web page that came is a login page (not a verification)
    bool wallPage = false;    // that page asks something of the user (a form, a login): it may be a wall
    // The structure check's verdict on the file when it is a PDF (NotChecked without a cause when it is
    // none, or no checker was given); a damaged one fails the transfer (PdfDamaged).
    PdfVerdict pdf;
};
Q_DECLARE_METATYPE(TransferResult)

// One transfer of one row. Driven by its reply's signals; every outcome (done, error, stop, time-out)
// ends in finish(), which reports once.
class Downloader : public QObject
{
    Q_OBJECT

public:
    // Gives the full path for a file of the given type and, through newName, the row name that goes with
    // it; the caller keeps the path for this transfer until it has ended.
    using TargetResolver = std::function<QString(const QString &type, QString *newName)>;

    Downloader(RowId id, QNetworkAccessManager *manager, const TransferOptions &options,
               QObject *parent = nullptr);
    ~Downloader() override; // a destroyed transfer cancels its request and leaves no file behind

    RowId id() const { return m_id; }

    // A parallel slot: fetches address into saveFile (folder and name fixed by the caller).
    void BeginDownload(const QString &address, const QString &saveFile, TargetResolver resolveAgain = {});
    // Continue from bytes an earlier try kept (call before starting).
    void setResume(const ResumePoint &resume) { m_body.resume = resume; }
    // The single connection: the answer's media type decides the type, resolve gives the path for it.
    void Inet下载文件(const QString &address, const QString &name, const QString &type,
                      TargetResolver resolve);

    // Stops the transfer unless the whole file is in: then it is kept and the transfer ends done.
    void stop(const FailureReason &reason = FailureReason::of(FailureReason::Kind::Stopped));
    // Ends the transfer now as failed for the reason. A file already whole is kept all the same, unless
    // its move into place can still be called off: then it is removed and nothing gets its name.
    void abort(const FailureReason &reason);
    bool isFinished() const { return m_phase == Phase::Finished; }
    bool isSingleConnection() const { return m_options.singleConnection; }
    // Some of the body has arrived.
    bool hasBodyBytes() const { return m_body.wireBytes > 0; }
    // The answer's headers are in and the body is being written.
    bool isReceiving() const { return m_phase == Phase::Receiving; }
    // The body is complete and being put on disk.
    bool isCommitting() const { return m_phase == Phase::Committing; }
    bool hasProgressWithTotal() const { return m_progressWithTotal; }

    // scheme://host/ of an address (folder mode false), or the address up to its last "/" before any
    // query (folder mode true).
    static QString GetUrlBase(const QString &address, bool folderMode);
    static QString stateText(ConnectionState state, int code = 0, const QString &text = QString());

Q_SIGNALS:
    // Bytes of the file so far and the total the answer stated (-1 when it stated none).
    void DownloadProgress(RowId id, qint64 received, qint64 total);
    // The single connection's answer was taken: the stated length (-1 none), and the type, name and path
    // of the file it goes to.
    void answered(RowId id, qint64 length, const QString &type, const QString &name);
    void connectionStateChanged(RowId id, ConnectionState state, int code, const QString &text);
    // A web page came where a paper was expected (the login panel may log in again).
    void webPageReceived(RowId id);
    // The whole body is in; the file is being put in place.
    void bodyReceived(RowId id);
    void finished(RowId id, const TransferResult &result);

private:
    // Reopening: a range answer came, and the bytes kept by an earlier try are being opened again.
    enum class Phase { Idle, Requesting, Reopening, Receiving, Committing, Finished };

    void startRequest(const QUrl &url);
    void onMetaData();
    void onReplyFinished();
    bool followRedirect(int status);
    bool takeAnswer(int status);
    bool takeRange(int status);
    // The kept bytes are open again (or gone) for a range of rangeLength bytes.
    void onReopened(bool ok, qint64 rangeLength);
    // Reads the body from here on.
    void startReceiving();
    // The single connection's file: the type from the answer, and the path and name the resolver gives
    // for it (in keptFolder when that is given); false when there is none.
    bool takeTarget(qint64 total, const QString *keptFolder = nullptr);
    // Reads what the answer holds into the file; without all, stops while the disk is behind.
    void readBody(bool all = false);
    void completeBody();
    // The whole paper is in: it goes to the disk and its name.
    void commitBody();
    void endAsWebPage();
    void DownloadWithInet();
    // The file is flushed and under its name, or why not; retried tells that this was the move to a
    // second name after another program took the first.
    void onMoved(const PartFile::MoveResult &moved, bool retried = false);
    // The file is in place: named after the type its content shows, on a worker, when the answer named none.
    void repairTypeAndFinish();
    void fail(const FailureReason &reason);
    void finish();
    void dropReply();
    void setState(ConnectionState state);

    RowId m_id;
    QNetworkAccessManager *m_manager;
    TransferOptions m_options;
    TargetResolver m_resolve;
    QPointer<QNetworkReply> m_reply;
    TransferBody m_body;
    Phase m_phase = Phase::Idle;
    TransferResult m_result;
    QUrl m_address;
    QByteArray m_referer;
    QString m_folder;
    QString m_fileName;            // name of the finished file in the folder
    bool m_typeFromAnswer = false; // the media type named the type (no repair from the content)
    bool m_fallback = false;
    bool m_progressWithTotal = false;
    int m_redirects = 0;
    qint64 m_stallMark = 0;
    QTimer m_headerTimer;
    QTimer m_stallTimer;
};
