#pragma once

#include <QString>

// Option values shared by every window of a run.
enum class DuplicatePolicy { Skip, Overwrite, Rename };

QString policyCaption(DuplicatePolicy policy);
// The stored text picks skip or overwrite only when it equals their caption; anything else is rename.
DuplicatePolicy policyFromText(const QString &text);

struct SharedOptions
{
    int DownloadMethod = 0;
    QString DuplicateNamePolicy;
    int ProxyEnabled = 0;
    QString ProxyAddress;
    QString ProxyPort;
    QString DefaultSaveFolder;
    int PromptSavePathOnExtract = 0;
    bool UseOriginalFileName = false;
    bool SaveLocationCancelled = false;

    // Reads every stored value (the save folder excepted: the chooser reads it when it opens) so the
    // options window never shows or stores a value that was not read.
    void loadFromStore();
    // Each loader reads one value, as the window that owns it does when it loads. A stored text that is
    // not a number leaves the value as it was.
    void loadDownloadMethod();
    void loadDuplicateNamePolicy();
    void loadProxy();
    void loadPromptSavePath();
};

// The one instance of the run.
SharedOptions &sharedOptions();

// Whole number as the store holds it; nullopt-like false when the text is not a number.
bool parseStoredInt(const QString &text, int *value);
