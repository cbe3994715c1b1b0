#pragma once

#include "core/settings/settingkeys.h"

#include <QString>

// Option values shared by every window of a run, typed; the texts they are stored as are read and
// written only by OptionStore.
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

    // The proxy port as a number (80 when the text is not one).
    quint16 proxyPortNumber() const;
};

// The port of a proxy as typed (80 when the text is not one).
quint16 proxyPortFromText(const QString &text);
// True when the text is a port the proxy can be reached on (a whole number from 1 to 65535); any other
// text would be taken as port 80.
bool isProxyPort(const QString &text);

struct TestOptions;

// The one writer of a run's options: each function reads or stores values in the settings and brings
// the snapshot up to date with them. The program makes one and lends it to the windows that use it.
class OptionStore
{
public:
    // The options as last read or stored: a snapshot that changes only through the functions below.
    const SharedOptions &options() const { return m_options; }

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
    // The stored save folder, when one is stored (a blank one leaves the folder proposed so far).
    void loadSaveFolder();

    // Each writer stores one value (and keeps it in the snapshot).
    void storeDownloadMethod(::DownloadMethod method);
    void storeDuplicateNamePolicy(DuplicatePolicy policy);
    void storeProxy(bool enabled, const QString &address, const QString &port);
    void storePromptSavePath(bool prompt);
    void storeSaveFolder(const QString &folder);
    void storeRetries(int retries);
    // A blank template is stored as typed and stands for the default.
    void storeFileNameTemplate(const QString &nameTemplate);
    void storeSkipHeld(bool skip);

    // Values of this run only, never stored: the method in force after the download window switched
    // it, and whether names come from the links (the save location chooser asks each time).
    void setMethodInForce(::DownloadMethod method);
    void setUseOriginalFileName(bool fromLinks);

private:
    friend struct TestOptions;
    SharedOptions m_options;
};
