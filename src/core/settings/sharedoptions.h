#pragma once

#include "core/settings/settingkeys.h"

#include <QString>

// Option values shared by every window of a run, typed; the texts they are stored as are read and
// written only here.
struct SharedOptions
{
    static constexpr int MinRetries = settingdefaults::MinRetries;
    static constexpr int MaxRetries = settingdefaults::MaxRetries;

    ::DownloadMethod DownloadMethod = settingdefaults::Method;
    DuplicatePolicy DuplicateNamePolicy = settingdefaults::Policy;
    bool ProxyEnabled = settingdefaults::ProxyEnabled;
    QString ProxyAddress;
    QString ProxyPort; // as the user typed it
    QString DefaultSaveFolder;
    bool PromptSavePathOnExtract = settingdefaults::PromptSavePath;
    bool UseOriginalFileName = false;
    int Retries =
        settingdefaults::Retries; // automatic retries of a passing failure, MinRetries to MaxRetries
    // Names made from the paper's metadata ("{年份}-{作者}-{标题}"); the default is the title alone.
    QString FileNameTemplate = settingdefaults::FileNameTemplate;
    // Papers already downloaded, whose file is still there unchanged, are not fetched again.
    bool SkipHeld = settingdefaults::SkipHeld;

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

// The port of a proxy as typed (80 when the text is not one).
quint16 proxyPortFromText(const QString &text);

// The one instance of the run.
SharedOptions &sharedOptions();
