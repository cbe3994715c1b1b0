#include "core/rows/rowrenaming.h"

#include "core/library/landingpage.h"
#include "core/rows/downloadlistmodel.h"
#include "core/rows/rownaming.h"
#include "core/settings/settingkeys.h"

QString NameFromWhatIsKnown(const DownloadRow &row, bool namesFromLinks)
{
    RowNaming naming = row.naming;
    if (!naming.isSet()) {
        // Its name stands for its title: only a paper known by its address alone is named again.
        if (namesFromLinks || !IsLinkTitle(row.givenName, row.key))
            return row.givenName;
        naming.nameTemplate = settingdefaults::FileNameTemplate;
    }
    if (naming.fromLink)
        return row.givenName;
    PaperMetadata known = naming.given;
    if (IsLinkTitle(known.title, row.key))
        known.title.clear();
    known = MergedMetadata(known, row.declared);
    return PaperFileName(row.key, known.title, row.type, false, naming.nameTemplate, known.cells);
}
