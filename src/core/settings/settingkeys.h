#pragma once

#include <QList>
#include <QString>

// What to do with a file of the same name: skip the row, overwrite the file, or save under name[001].
enum class DuplicatePolicy { Skip, Overwrite, Rename };

// The caption of a policy, which is also the text the settings file holds for it.
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

// The defaults of the stored options as typed values. Everything that needs a default takes it from
// here; the texts of the key table below are made from these.
namespace settingdefaults {
inline constexpr DownloadMethod Method = DownloadMethod::Parallel;
inline constexpr int ThreadsPosition = 2; // the third entry of the thread list: three transfers
inline constexpr int ThreadCount = ThreadsPosition + 1;
inline constexpr DuplicatePolicy Policy = DuplicatePolicy::Rename;
inline constexpr bool ProxyEnabled = false;
inline constexpr bool PromptSavePath = true;
inline constexpr bool SkipHeld = false;
inline constexpr int Retries = 3;
inline constexpr int MinRetries = 0;
inline constexpr int MaxRetries = 20;
// The title alone, as names were before templates.
inline const QString FileNameTemplate = QStringLiteral("{标题}");
// Where a DOI's landing page is asked for: {doi} stands for the DOI.
inline const QString DoiResolver = QStringLiteral("https://doi.org/{doi}");
} // namespace settingdefaults

// How the text of a key is read.
enum class SettingType {
    Text,        // as it stands
    Flag,        // "1" on, "0" off
    WholeNumber, // a number; a text that is not one leaves the value as it was
    Choice,      // one of a set of captions
};

// One stored option: where the settings file keeps it, how its text reads and what it is when the file
// does not hold it.
struct SettingKey
{
    QString section;
    QString name;
    SettingType type;
    QString defaultText;
};

// Every key of the settings file. The sections and names are those of existing files and stay so.
namespace settingkeys {
inline const QString SectionSettings = QStringLiteral("设置");
inline const QString SectionDownload = QStringLiteral("下载");

inline QString flagText(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

inline const SettingKey DownloadMethod{SectionSettings, QStringLiteral("下载方式"), SettingType::WholeNumber,
                                       QString::number(methodNumber(settingdefaults::Method))};
inline const SettingKey Threads{SectionDownload, QStringLiteral("线程"), SettingType::WholeNumber,
                                QString::number(settingdefaults::ThreadsPosition)};
inline const SettingKey DuplicateName{SectionDownload, QStringLiteral("重复文件名"), SettingType::Choice,
                                      policyCaption(settingdefaults::Policy)};
inline const SettingKey ProxyEnabled{SectionSettings, QStringLiteral("代理服务器有效"), SettingType::Flag,
                                     flagText(settingdefaults::ProxyEnabled)};
inline const SettingKey ProxyAddress{
    SectionSettings, QStringLiteral("代理服务器网址"), SettingType::Text, {}};
inline const SettingKey ProxyPort{SectionSettings, QStringLiteral("代理服务器端口"), SettingType::Text, {}};
inline const SettingKey SaveFolder{
    SectionSettings, QStringLiteral("下载文件保存路径"), SettingType::Text, {}};
inline const SettingKey PromptSavePath{SectionSettings, QStringLiteral("提取网页信息时提示下载保存路径"),
                                       SettingType::Flag, flagText(settingdefaults::PromptSavePath)};
inline const SettingKey LastOpenedFolder{
    SectionSettings, QStringLiteral("最后一次打开的目录"), SettingType::Text, {}};
// File names from a template of the paper's metadata; a blank template stands for the default.
inline const SettingKey FileNameTemplate{SectionSettings, QStringLiteral("文件名模板"), SettingType::Text,
                                         settingdefaults::FileNameTemplate};
// Papers already downloaded and still unchanged on disk are not fetched again.
inline const SettingKey SkipHeld{SectionDownload, QStringLiteral("跳过已下载过的文献"), SettingType::Flag,
                                 flagText(settingdefaults::SkipHeld)};
// How often a passing failure is tried again by itself.
inline const SettingKey Retries{SectionDownload, QStringLiteral("失败自动重试次数"), SettingType::WholeNumber,
                                QString::number(settingdefaults::Retries)};
// The resolver that leads from a listed paper's DOI to its landing page; a blank one stands for the default.
inline const SettingKey DoiResolver{SectionDownload, QStringLiteral("DOI解析地址"), SettingType::Text,
                                    settingdefaults::DoiResolver};
// The columns the library window hides, by number, separated by commas; none hidden by default.
inline const SettingKey LibraryHiddenColumns{
    SectionSettings, QStringLiteral("文献库隐藏的列"), SettingType::Text, {}};

inline QList<const SettingKey *> all()
{
    return {&DownloadMethod, &Threads,    &DuplicateName,  &ProxyEnabled,        &ProxyAddress,
            &ProxyPort,      &SaveFolder, &PromptSavePath, &LastOpenedFolder,    &FileNameTemplate,
            &SkipHeld,       &Retries,    &DoiResolver,    &LibraryHiddenColumns};
}
} // namespace settingkeys
