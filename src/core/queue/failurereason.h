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
        Disk,                   // the file could not be written; detail = the system's words
        WebPage,                // a web page (or an error page) came where a paper was expected
        Certificate,            // the server's certificate is not trusted; detail = why
        Redirect,               // too many redirects, or one to a less safe address
        Stopped,                // the user stopped it
        NoFolder,               // the row names no folder to save into
        LandingWithoutFullText, // a paper's own web page came that names no full text to fetch
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

// "HTTP 404 Not Found", "web page instead of a paper", ... (for the manifest, the terminal and logs).
QString reasonText(const FailureReason &reason);
// The same for the window, in the program's language, with the English words after it.
QString reasonTextForWindow(const FailureReason &reason);
