#include "core/rows/rownaming.h"

#include "core/common/filenames.h"
#include "core/common/safetext.h"
#include "core/library/nametemplate.h"
#include "core/settings/settingkeys.h"

namespace {

// A cleaned name may still start with a dot (" .x" cleans to ".x") or be nothing but dots and spaces;
// on disk that is a hidden file such as ".pdf". Such a name loses its leading dots and spaces, and
// what is left of it may be empty, in which case the other source names the file.
QString visibleName(const QString &cleaned)
{
    qsizetype start = 0;
    while (start < cleaned.size() && (cleaned.at(start) == u'.' || cleaned.at(start) == u' '))
        ++start;
    return cleaned.mid(start);
}

QString nameFromLink(const QString &address)
{
    // An address without a path would give its host, and with it a password it carried.
    const QString shown = WithoutCredentials(address);
    return visibleName(CleanFileName(StripUnsafeControls(FileNameFromPath(shown, true))));
}

QString nameFromTitle(const QString &title)
{
    return visibleName(CleanFileName(TrimSpaces(StripLineBreaks(StripUnsafeControls(title)))));
}

bool isDefaultTemplate(const QString &nameTemplate)
{
    return nameTemplate.trimmed().isEmpty() || nameTemplate.trimmed() == settingdefaults::FileNameTemplate;
}

// The template filled from the metadata; the default template gives exactly the name of the title.
QString nameFromTemplate(const QString &nameTemplate, const QString &title, const PaperCells &cells)
{
    if (isDefaultTemplate(nameTemplate))
        return nameFromTitle(title);
    const QString filled = FillNameTemplate(nameTemplate, PaperMetadata{StripUnsafeControls(title), cells});
    const QString name = visibleName(CleanFileName(TrimSpaces(StripUnsafeControls(filled))));
    return name.isEmpty() ? nameFromTitle(title) : name;
}

} // namespace

bool IsLinkTitle(const QString &title, const QString &address)
{
    const QString cleaned = nameFromTitle(title);
    return cleaned.isEmpty() || cleaned == nameFromLink(address);
}

QString PaperFileName(const QString &address, const QString &title, const QString &type, bool fromLink,
                      const QString &nameTemplate, const PaperCells &cells)
{
    QString name = fromLink ? nameFromLink(address) : nameFromTemplate(nameTemplate, title, cells);
    if (name.isEmpty())
        name = fromLink ? nameFromTitle(title) : nameFromLink(address);
    if (name.isEmpty())
        name = QStringLiteral("未命名");
    return FitNameForDisk(name, type);
}
