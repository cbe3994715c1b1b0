#pragma once

#include <QString>

// The per-user store: text values addressed by section and key under the program's title.
QString ReadSetting(const QString &section, const QString &key, const QString &defaultValue);
void WriteSetting(const QString &section, const QString &key, const QString &value);

// The paper library's options as typed values: a blank template gives the default, and skipping is on
// only when the stored text is "1".
QString ReadFileNameTemplate();
bool ReadSkipHeld();

// Path of the INI file that holds the store (for the README and for tests).
QString SettingsFilePath();

namespace settingkeys {
inline const QString SectionSettings = QStringLiteral("设置");
inline const QString SectionDownload = QStringLiteral("下载");

inline const QString DownloadMethod = QStringLiteral("下载方式");
inline const QString Threads = QStringLiteral("线程");
inline const QString DuplicateName = QStringLiteral("重复文件名");
inline const QString ProxyEnabled = QStringLiteral("代理服务器有效");
inline const QString ProxyAddress = QStringLiteral("代理服务器网址");
inline const QString ProxyPort = QStringLiteral("代理服务器端口");
inline const QString SaveFolder = QStringLiteral("下载文件保存路径");
inline const QString PromptSavePath = QStringLiteral("提取网页信息时提示下载保存路径");
inline const QString LastOpenedFolder = QStringLiteral("最后一次打开的目录");
// Paper library options: file names from a template of the paper's metadata (section "设置"), and
// papers already downloaded and still unchanged on disk not fetched again (section "下载").
inline const QString FileNameTemplate = QStringLiteral("文件名模板");
inline const QString SkipHeld = QStringLiteral("跳过已下载过的文献");
// How often a passing failure is tried again by itself (section "下载").
inline const QString Retries = QStringLiteral("失败自动重试次数");

inline const QString DefaultThreadsPosition = QStringLiteral("2");
inline const QString DefaultPolicy = QStringLiteral("重命名");
inline const QString DefaultFileNameTemplate = QStringLiteral("{标题}"); // the title alone, as before
inline const QString DefaultSkipHeld = QStringLiteral("0");
inline const QString DefaultRetries = QStringLiteral("3");
} // namespace settingkeys
