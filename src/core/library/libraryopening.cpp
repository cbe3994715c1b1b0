#include "core/library/libraryopening.h"

#include "core/library/paperlibrary.h"

bool openLibraryTelling(PaperLibrary &library,
                        const std::function<void(bool usable, const QString &message)> &tell)
{
    const PaperLibrary::OpenResult result = library.open();
    if (!result.message.isEmpty() && tell)
        tell(result.ok, result.message);
    return result.ok;
}
