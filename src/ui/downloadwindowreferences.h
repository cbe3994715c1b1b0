#pragma once

#include "core/references/finders.h"
#include "core/references/referencelist.h"
#include "core/search/referenceimporting.h"
#include "ui/downloadwindowparts.h"
#include "ui/referenceimportanswer.h"

#include <QObject>
#include <memory>

class QAction;
class QMenu;
class ReferenceRowMaker;

// Reference lists into the download window: "导入…" reads a file the user picks, "粘贴" (Ctrl+V on the
// list) the text on the clipboard, both by the readers the batch mode's --input uses. The list is read
// on a worker; its papers become rows a few thousand at a time, each with its identifier and its ways
// to the full text, which these sources give the queue when a way gives no file. The answer names each
// entry that was not taken, with its line.
class DownloadWindowReferences : public QObject
{
    Q_OBJECT

public:
    // Rows handed to the list in one turn of the event loop.
    static constexpr int RowsPerTurn = 2000;

    explicit DownloadWindowReferences(const DownloadWindowParts &parts);
    ~DownloadWindowReferences() override;

    // "导入…" and "粘贴" in the list menu (and Ctrl+V on the list).
    void buildMenu(QMenu *list);
    void importFile();
    void pasteText();
    // A list is being read or handed to the download list.
    bool busy() const { return m_busy; }
    ReferenceSources &sources() { return m_sources; }

Q_SIGNALS:
    // The papers of a list are in and the user was told (also when the list could not be read).
    void importEnded();

private:
    struct Take
    {
        ReferenceList list;
        FindersRead finders;
    };
    // Reads on a worker, then hands the papers over.
    void read(std::function<Take()> work);
    void take(Take &taken);
    void handOverSome();
    void finish();
    // A folder for the rows: the one chosen before, or the chooser's; false when none was chosen.
    bool haveFolder();
    // Another list is on its way in: the user is told so (true).
    bool tellBusy() const;

    DownloadWindowParts m_parts;
    ReferenceSources m_sources;
    bool m_busy = false;
    std::shared_ptr<Take> m_pending; // its entries are let go as their rows are made
    std::unique_ptr<ReferenceRowMaker> m_maker;
    qsizetype m_next = 0;
    ReferenceImportTally m_tally;
};
