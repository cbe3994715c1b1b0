#pragma once

#include "core/library/papermetadata.h"

#include <QDateTime>
#include <QString>

// A paper as it was seen on a result page (or imported from a list of links).
struct SeenPaper
{
    QString address;        // the paper's file address, the key of the library
    PaperMetadata metadata; // title and the other cells of its row
    QString sourcePage;     // the result page it was taken from; may be empty
};

enum class DownloadOutcome { None = 0, Done = 1, Failed = 2 };

// How one download of a paper ended.
struct DownloadResult
{
    QString address;
    QString title; // used only when the paper was never seen before
    DownloadOutcome outcome = DownloadOutcome::Done;
    QString reason;       // why it failed, or a note on how it ended ("已下载过")
    QDateTime finishedAt; // current time when invalid
    // Of the file on disk; read only for a done download.
    QString filePath;
    qint64 size = -1;
    QString sha256; // lower-case hex
    // The structure check's word for the file ("whole", "repaired", "encrypted", "not checked"; empty for
    // a file that is no PDF) and its pages (-1 unknown).
    QString pdf = {};
    int pdfPages = -1;
    // What the paper's own web page declared, the full-text address it named (empty: none met) and the
    // address that page came from.
    PaperMetadata declared = {};
    QString fileAddress = {};
    QString landingPage = {};
    // The paper's DOI in the form papers are compared in (DoiKey); empty when it is not known.
    QString doiKey = {};
};

// The file the library holds for a paper: its last successful download.
struct HeldFile
{
    QString address;
    QString filePath;
    qint64 size = -1;
    QString sha256;
    QDateTime downloadedAt;
    // Where the file came from when the paper's own page named it (both empty otherwise), and what that
    // page declared; filled where the library is asked for a paper's file (heldFile).
    QString fileAddress = {};
    QString landingPage = {};
    PaperMetadata declared = {};

    bool isEmpty() const { return filePath.isEmpty(); }
};

// The structure check of a file the library holds.
struct PdfCheckRecord
{
    QString filePath;
    QString pdf; // "whole", "repaired", "encrypted", "damaged", "not checked"
    int pages = -1;
    QDateTime checkedAt; // current time when invalid
};

// Everything the library knows about a paper.
struct PaperRecord
{
    QString address;
    PaperMetadata metadata;
    QString sourcePage;
    QDateTime seenAt;
    HeldFile held; // empty until a download succeeded
    DownloadOutcome lastOutcome = DownloadOutcome::None;
    QString lastReason;
    QDateTime lastAttemptAt;
    QString fileAddress; // the full text a landing page named; empty when the address was the file
    QString landingPage; // the page that named it
};

// One row of the download queue as it is kept across runs. States use the download list's numbers
// (1 waiting, 2 downloading, 3 done, 4 failed).
struct QueueRow
{
    QString address;
    QString name; // file name without folder and extension
    QString type; // extension without dot
    QString folder;
    QString tag; // result page the link came from
    int state = 1;
    qint64 totalBytes = -1; // -1 while unknown
    qint64 receivedBytes = 0;
    QString note; // the text the row showed besides its numbers (a reason, "等待重新下载", ...)
    QString givenName = {}; // the name and folder the row was handed over with
    QString givenFolder = {};
    // The file the row wrote itself, and which file that was (path empty: none).
    QString filePath = {};
    qint64 fileDevice = 0;
    qint64 fileInode = 0;
    qint64 fileSize = -1;
    qint64 fileModifiedNs = 0;
    // The paper's own page the row went through, the full text it named and what it declared.
    QString landingPage = {};
    QString fileAddress = {};
    PaperMetadata declared = {};
    // A row from a reference list: the DOI or arXiv id it is listed under, and which of its ways gave the
    // address it asks (both empty for other rows).
    QString identifier = {};
    QString origin = {};

    bool operator==(const QueueRow &) const = default;
};

// A wait for another program that holds the library: it started, and it ended with what waited written,
// or given up (said then as a failure).
enum class LibraryWait { Started, Written, GivenUp };
