#pragma once

#include <QMetaType>
#include <QString>

// Why a transfer did not end with a finished file. The kind decides what the program does next
// (retry or not); the code and detail say what the server or the system answered.
struct FailureReason
{
    enum class Kind {
        None,
        HttpStatus,             // code = the status, detail = its reason phrase
        Network,                // code = the network error, detail = its text
        Timeout,                // no answer in time
        Stall,                  // the body stopped arriving (too few bytes in the stall window)
        ShortBody,              // the body ended before its framing said it was complete
        Disk,                   // the file could not be written; code = errno, detail = its words
        WebPage,                // a web page (or an error page) came where a paper was expected
        Certificate,            // the server's certificate is not trusted; detail = why
        Redirect,               // too many redirects, or one to a less safe address
        Stopped,                // the user stopped it
        NoFolder,               // the row names no folder to save into
        LandingWithoutFullText, // a paper's own web page came that names no full text to fetch
        FullTextRefused,        // the full text a paper's own page named is not taken; code = FullTextRefusal
        PdfDamaged, // the file is a PDF a reader cannot open; code = pdfverdict::Damage, detail = why
    };

    Kind kind = Kind::None;
    int code = 0;
    QString detail;

    bool isNone() const { return kind == Kind::None; }
    bool operator==(const FailureReason &) const = default;

    static FailureReason of(Kind kind, int code = 0, const QString &detail = QString())
    {
        return FailureReason{kind, code, detail};
    }
};
Q_DECLARE_METATYPE(FailureReason)

// Why the full text that a paper's own page named is not fetched (the code of a FullTextRefused reason).
enum class FullTextRefusal {
    Scheme = 1,   // not an http or https address; detail = its scheme ("javascript"), empty when it has none
    PageItself,   // the page names its own address
    AskedBefore,  // an address this row asked for already
    WebPage,      // the full text came as a web page that asks nothing of the user (no wall)
    TooManyPages, // yet another landing page after as many as are followed; detail = that number
};

// What kept a file from the disk, as far as the user can mend it: no space left, a read-only file system,
// no permission to write, the disk quota used up. Other covers the rest (no free name, a lost part).
enum class DiskFault { None, NoSpace, ReadOnly, NoPermission, Quota, Other };
Q_DECLARE_METATYPE(DiskFault)
// The fault of a disk failure (None for any other reason).
DiskFault diskFaultOf(const FailureReason &reason);

// "HTTP 404 Not Found", "web page instead of a paper", ... (for the manifest, the terminal and logs).
QString reasonText(const FailureReason &reason);
// The same for the window, in the program's language only: "服务器答复错误（HTTP 404）",
// "网络错误（连接被拒绝）", "文件不完整". The English words stay in the manifest and the log.
QString reasonTextForWindow(const FailureReason &reason);
// What a row waits out, for the window: "站点要求等待（HTTP 429）" for a status that asks the client to
// wait, else the reason as the window gives it.
QString waitReasonText(const FailureReason &reason);
// The short form for a narrow cell: "文件不存在" for 404 and 410, "HTTP 500", "网络错误", ...
QString shortReasonText(const FailureReason &reason);
// "磁盘空间不足", "磁盘只读", "没有写入权限", "超出磁盘配额", "磁盘错误"
QString diskFaultText(DiskFault fault);
// The standard reason phrase of an HTTP status ("Too Many Requests"); empty for a status without one.
QString httpStatusPhrase(int status);
