#pragma once

#include "settings/sharedoptions.h"

#include <QSet>
#include <QString>

struct DownloadRow;

// Full path of a row's file: folder + name + "." + type (no dot when the type is empty). The name is
// taken as the row holds it: it was fitted to the disk when it was given, and is never cut again.
QString rowFilePath(const QString &folder, const QString &name, const QString &type);
QString rowFilePath(const DownloadRow &row);

// Folder with the trailing "/" that every scheduled row carries.
QString withTrailingSlash(const QString &folder);

// A file type that comes from outside (a server's media type, a link, a sniffer) may become part of a
// path only when it is a short token of ASCII letters and digits.
bool IsSafeFileType(const QString &type);

// What to do with a waiting row whose target is folder + name + "." + type.
enum class Need {
    Fetch, // download it
    Skip,  // the file is there and the policy is skip: the row is done as it stands
    Wait,  // a live transfer is writing that very file: ask again when it has ended
};
struct NeedAnswer
{
    Need need = Need::Fetch;
    qint64 existingLength = -1; // with Skip: the length of the file that is there
};
// Paths that live transfers are writing; they count as taken although no file shows yet.
using ReservedPaths = QSet<QString>;

NeedAnswer 确定是需要下载(DuplicatePolicy policy, const QString &folder, const QString &name,
                          const QString &type, const ReservedPaths &reserved);

// Target path under the policy and, through newName, the row name that goes with it. Except under
// overwrite, an existing or reserved file makes the name continue as name[001], name[002], ... (three
// digits, counting on from a number already in brackets; other brackets become 『 and 』). Names are cut
// so that the file name fits in 255 bytes of UTF-8 with its counter and extension.
QString 重命名保存路径(DuplicatePolicy policy, const QString &folder, const QString &name,
                       const QString &type, QString *newName, const ReservedPaths &reserved = {});
