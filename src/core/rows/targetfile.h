#pragma once

#include "core/common/disklooks.h"
#include "core/common/filenames.h"
#include "core/rows/ownedfile.h"
#include "core/settings/sharedoptions.h"

#include <QSet>
#include <QString>
#include <functional>

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

// What stands at a path as far as a look found: nothing, a plain file (with its length) or anything else.
struct SeenEntry
{
    PathEntry entry = PathEntry::None;
    qint64 size = -1;      // a plain file's length, -1 when not known
    FileIdentity identity; // which plain file that is, when known

    bool operator==(const SeenEntry &) const = default;
};
// Where the rules below learn what stands at a path. Unset, they look at the disk themselves.
using EntryLook = std::function<SeenEntry(const QString &path)>;
// Looks at the disk, without following a link at the path.
SeenEntry LookOnDisk(const QString &path);

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
// Whether the plain file at a path, as a look saw it, belongs to another paper: another row of the list
// wrote it, or the paper library holds it for another address. Such a file is never skipped on nor
// replaced.
using ClaimTest = std::function<bool(const QString &path, const FileIdentity &seen)>;

// Under skip and overwrite, a file already at the target is this paper only when it is a plain file that
// no one else claims; a link, a folder or anything else there, or another paper's file, is no reason to
// skip: the row is fetched, and 重命名保存路径 gives it a free name.
NeedAnswer 确定是需要下载(DuplicatePolicy policy, const QString &folder, const QString &name,
                          const QString &type, const ReservedPaths &reserved, const ClaimTest &claimed = {},
                          const EntryLook &look = {});

// Target path under the policy and, through newName, the row name that goes with it. A name is taken by
// a reserved path or by anything that stands there (a link too, even one that leads nowhere). Except
// under overwrite, a taken name continues as name[001], name[002], ... (three digits, counting on from a
// number already in brackets; other brackets become 『 and 』); under overwrite only a plain file that no
// one else claims is replaced, and any other taken name continues the same way. Names are cut so that the
// file name fits in 255 bytes of UTF-8 with its counter and extension.
QString 重命名保存路径(DuplicatePolicy policy, const QString &folder, const QString &name,
                       const QString &type, QString *newName, const ReservedPaths &reserved = {},
                       const ClaimTest &claimed = {}, const EntryLook &look = {});

// Under overwrite, the path may be replaced: a plain file no one else claims, or nothing at all.
bool MayReplace(const QString &path, const ReservedPaths &reserved, const ClaimTest &claimed,
                const EntryLook &look = {});
