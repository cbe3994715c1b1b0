#pragma once

#include "settings/sharedoptions.h"

#include <QString>

class DownloadListModel;

// Full path of a row's file: folder + name + "." + type (no dot when the type is empty).
QString rowFilePath(const QString &folder, const QString &name, const QString &type);

// Folder with the trailing "/" that every scheduled row carries.
QString withTrailingSlash(const QString &folder);

// Whether the waiting row at position must be fetched. Under the skip policy an existing target file
// settles the row as done (its length in size and downloaded, "已存在，跳过" in percent) and gives false.
bool 确定是需要下载(DownloadListModel &model, int position, DuplicatePolicy policy, const QString &folder,
                    const QString &name, const QString &type);

// Target path under the policy and, through newName, the row name that goes with it. Except under
// overwrite, an existing file makes the name continue as name[001], name[002], ... (three digits,
// counting on from a number already in brackets; other brackets become 『 and 』).
// Names are cut so that the file name fits in 255 bytes of UTF-8 with its counter and extension.
QString 重命名保存路径(DuplicatePolicy policy, const QString &folder, const QString &name, const QString &type,
                      QString *newName);
