#pragma once

#include <QString>

// What to do with a file of the same name: skip the row, overwrite the file, or save under name[001].
enum class DuplicatePolicy { Skip, Overwrite, Rename };

QString policyCaption(DuplicatePolicy policy);
// The stored text picks skip or overwrite only when it equals their caption; anything else is rename.
DuplicatePolicy policyFromText(const QString &text);

// How rows are fetched: one connection at a time, or up to six parallel transfers.
enum class DownloadMethod { Single = 1, Parallel = 2 };

// The number the program shows and stores for a method ("下载方式：1").
inline int methodNumber(DownloadMethod method)
{
    return method == DownloadMethod::Single ? 1 : 2;
}
// Any stored number but 1 selects the parallel transfers.
inline DownloadMethod methodFromNumber(int number)
{
    return number == 1 ? DownloadMethod::Single : DownloadMethod::Parallel;
}

// Option values shared by every window of a run, typed; the texts they are stored as are read and
// written only here.
struct SharedOptions
{
    static constexpr int DefaultRetryCount = 3;
    static constexpr int MinRetries = 0;
    static constexpr int MaxRetries = 20;

    ::DownloadMethod DownloadMethod = ::DownloadMethod::Parallel;
    DuplicatePolicy DuplicateNamePolicy = DuplicatePolicy::Rename;
    bool ProxyEnabled = false;
    QString ProxyAddress;
    QString ProxyPort; // as the user typed it
    QString DefaultSaveFolder;
    bool PromptSavePathOnExtract = true;
    bool UseOriginalFileName = false;
    int Retries = DefaultRetryCount; // automatic retries of a passing failure, MinRetries to MaxRetries
    // Names made from the paper's metadata ("{年份}-{作者}-{标题}"); the default is the title alone.
    QString FileNameTemplate = QStringLiteral("{标题}");
    // Papers already downloaded, whose file is still there unchanged, are not fetched again.
    bool SkipHeld = false;

    // Reads every stored value (the save folder excepted: the chooser reads it when it opens) so the
    // options window never shows or stores a value that was not read.
    void loadFromStore();
    // Each loader reads one value, as the window that owns it does when it loads. A stored text that is
    // not a number leaves the value as it was.
    void loadDownloadMethod();
    void loadDuplicateNamePolicy();
    void loadProxy();
    void loadPromptSavePath();
    // A stored count outside MinRetries..MaxRetries is brought inside.
    void loadRetries();
    void loadFileNameTemplate();
    void loadSkipHeld();

    // Each writer stores one value (and keeps it here).
    void storeDownloadMethod(::DownloadMethod method);
    void storeDuplicateNamePolicy(DuplicatePolicy policy);
    void storeProxy(bool enabled, const QString &address, const QString &port);
    void storePromptSavePath(bool prompt);
    void storeSaveFolder(const QString &folder);
    void storeRetries(int retries);
    // A blank template is stored as typed and stands for the default.
    void storeFileNameTemplate(const QString &nameTemplate);
    void storeSkipHeld(bool skip);

    // The proxy port as a number (80 when the text is not one).
    quint16 proxyPortNumber() const;
};

// The one instance of the run.
SharedOptions &sharedOptions();

// Whole number as the store holds it; false when the text is not a number.
bool parseStoredInt(const QString &text, int *value);
