#pragma once

#include "core/settings/sharedoptions.h"

#include <QString>
#include <QStringList>
#include <QUrl>

// What a batch run was asked to do on the command line.
struct BatchOptions
{
    enum class Pages { One, All };

    // Where the papers come from: exactly one of a result page, a list of links, or a folder of an
    // earlier run whose unfinished rows run again.
    QUrl startPage;
    QString inputFile;      // absolute
    QString resumeFolder;   // absolute, ends in "/"
    QString resumeManifest; // absolute: the manifest in resumeFolder, or the one given by its path
    QString outFolder;      // absolute, ends in "/"; empty only with listOnly
    Pages pages = Pages::All;
    int method = methodNumber(settingdefaults::Method); // 1 single connection, 2 parallel slots
    int threads = settingdefaults::ThreadCount;
    int intervalSeconds = 0;
    DuplicatePolicy policy = settingdefaults::Policy;
    bool namesFromLinks = false;
    QString nameTemplate; // file names from the papers' metadata; empty: the title alone
    QString proxyHost;    // empty: no proxy
    quint16 proxyPort = 0;
    bool listOnly = false;
    int retries = settingdefaults::Retries; // automatic retries of a passing failure
    // A site that answers papers with a verification page: stop the run, or wait for the page to go.
    enum class OnVerification { Stop, Wait };
    OnVerification onVerification = OnVerification::Stop;
    bool useLibrary = true; // the paper library records what the run sees and downloads
    bool skipHeld = false;  // papers downloaded before and unchanged on disk are not fetched again
    bool checkPdf = true;   // every PDF is checked before it takes its name (off: --no-pdf-check)
    QString risFile;        // exports of the papers downloaded; absolute, empty when not asked for
    QString bibtexFile;
    QString siteRulesFile; // absolute; empty: the rules are picked by the pages' hosts
    // Where a listed paper's DOI leads to its landing page; {doi} stands for the DOI.
    QString doiResolver = settingdefaults::DoiResolver;
    QString findersFile;    // absolute; empty: only the user's finders.json, when there is one
    QUrl checkRulesPage;    // when set, the run only tells what the rules find on this page
    QString checkSavedPage; // absolute; a saved copy read as if it stood at checkRulesPage
    bool checkAll = false;  // every paper found in full, not only the first five
    bool checkJson = false; // what the rules find as JSON
};

struct BatchArguments
{
    bool ok = false;
    bool helpAsked = false;
    QString error; // why the arguments were refused
    BatchOptions options;
};

inline constexpr int kMaxIntervalSeconds = 3600;
inline constexpr int kMaxRetries = settingdefaults::MaxRetries;

// Reads the arguments after the program name ("--batch" among them). Nothing on disk is touched.
BatchArguments parseBatchArguments(const QStringList &arguments);

// Why the files the run writes cannot be told apart: an export naming the manifest, the list of links
// or the other export, by any spelling or link. Empty when they are all distinct. Looks at the disk.
QString outputConflict(const BatchOptions &options);

QString batchUsage();
