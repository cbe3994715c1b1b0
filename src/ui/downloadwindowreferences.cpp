#include "ui/downloadwindowreferences.h"

#include "core/common/messenger.h"
#include "core/common/receiverpost.h"
#include "core/queue/downloadqueue.h"
#include "core/references/findertemplate.h"
#include "core/references/referencelist.h"
#include "core/search/handover.h"
#include "core/search/referencefinders.h"
#include "core/search/referencerows.h"
#include "core/settings/settingsstore.h"
#include "core/settings/sharedoptions.h"
#include "desktop/filedialogs.h"
#include "ui/savelocationchooser.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMenu>
#include <QTimer>
#include <QTreeView>

DownloadWindowReferences::DownloadWindowReferences(const DownloadWindowParts &parts)
    : QObject(&parts.window), m_parts(parts), m_sources(ReadDoiResolverTemplate())
{
    m_sources.setSiteRules(&parts.run.siteRules);
    // Rows of a list go on way after way; every other row ends where its address gives no file.
    m_parts.queue->changeOptions([this](SchedulerOptions &options) { options.sources = &m_sources; });
}

// The window deletes its queue before its helpers: nothing asks these sources once they go.
DownloadWindowReferences::~DownloadWindowReferences() = default;

void DownloadWindowReferences::buildMenu(QMenu *list)
{
    list->addSeparator();
    QAction *import = list->addAction(QStringLiteral("导入…"), this, &DownloadWindowReferences::importFile);
    import->setObjectName(QStringLiteral("actImportReferences"));
    import->setToolTip(QStringLiteral("导入 DOI、arXiv 编号、BibTeX、RIS、CSL-JSON 或 CSV 文献列表"));
    QAction *paste = list->addAction(QStringLiteral("粘贴"), this, &DownloadWindowReferences::pasteText);
    paste->setObjectName(QStringLiteral("actPasteReferences"));
    paste->setShortcut(QKeySequence::Paste);
    // Ctrl+V pastes into the list only while the list has the focus: the login panel's address box and
    // its page keep their own.
    paste->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_parts.controls.ListView3->addAction(paste);
}

bool DownloadWindowReferences::tellBusy() const
{
    if (m_busy)
        showMessage(MessageIcon::Information, QStringLiteral("上一个文献列表还在导入，请稍候。"));
    return m_busy;
}

bool DownloadWindowReferences::haveFolder()
{
    if (!m_parts.run.options.options().DefaultSaveFolder.isEmpty())
        return true;
    runSaveLocationChooser(&m_parts.window, m_parts.run.options);
    return !m_parts.run.options.options().DefaultSaveFolder.isEmpty();
}

void DownloadWindowReferences::importFile()
{
    if (tellBusy())
        return;
    filedialogs::Request request;
    request.caption = QStringLiteral("导入文献列表");
    request.startPath = QDir::homePath();
    request.filter = QStringLiteral("文献列表 (*.bib *.ris *.json *.csv *.txt *.tsv *.list);;所有文件 (*)");
    const QString path = filedialogs::choose(&m_parts.window, request);
    if (path.isEmpty() || !haveFolder())
        return;
    read([path] { return Take{ReadReferenceFile(path), ReadRunFinders(QString())}; });
}

void DownloadWindowReferences::pasteText()
{
    if (tellBusy())
        return;
    const QString text = QGuiApplication::clipboard()->text();
    if (text.trimmed().isEmpty()) {
        showMessage(MessageIcon::Information, QStringLiteral("剪贴板中没有可导入的文字。"));
        return;
    }
    if (!haveFolder())
        return;
    read([bytes = text.toUtf8()] { return Take{ReadReferences(bytes), ReadRunFinders(QString())}; });
}

void DownloadWindowReferences::read(std::function<Take()> work)
{
    m_busy = true;
    diskwork::workThenPost(this, std::move(work), [this](Take &taken) { take(taken); });
}

void DownloadWindowReferences::take(Take &taken)
{
    if (!taken.list.ok()) {
        m_busy = false;
        showMessage(MessageIcon::Critical, ReferenceListFailureText(taken.list));
        Q_EMIT importEnded();
        return;
    }
    // A resolver the options window stored that makes no address is not used: the default stands in.
    const QString resolver = ReadDoiResolverTemplate();
    const bool resolverUsable = CheckResolverTemplate(resolver).ok();
    m_sources.setResolver(resolverUsable ? resolver : DefaultDoiResolverTemplate);
    // A finders file that cannot be used is told; the papers are then sought without finders.
    m_sources.setFinders(taken.finders.ok() ? ReadersOf(taken.finders.finders) : FinderReaders());
    m_tally = {};
    m_tally.format = taken.list.format;
    m_tally.merged = static_cast<int>(taken.list.merged.size());
    m_tally.refused = taken.list.refused;
    m_tally.findersRefused = !taken.finders.ok();
    m_tally.resolverRefused = !resolverUsable;
    m_pending = std::make_shared<Take>(std::move(taken));
    m_maker = std::make_unique<ReferenceRowMaker>(*m_parts.queue->model(), m_sources,
                                                  handOverOptionsOf(m_parts.run.options.options()));
    m_next = 0;
    handOverSome();
}

void DownloadWindowReferences::handOverSome()
{
    QList<ReferenceEntry> &entries = m_pending->list.entries;
    const qsizetype end = std::min(m_next + RowsPerTurn, entries.size());
    QList<DownloadRow> rows = m_maker->takeRows(entries, m_next, end);
    m_next = end;
    const qsizetype offered = rows.size();
    const qsizetype added = m_parts.queue->enqueueRows(std::move(rows)).size();
    m_tally.added += static_cast<int>(added);
    m_tally.alreadyListed += static_cast<int>(offered - added);
    if (m_next < entries.size()) {
        // The window stays live between the turns; the rest follows when the events are through.
        QTimer::singleShot(0, this, &DownloadWindowReferences::handOverSome);
        return;
    }
    finish();
}

void DownloadWindowReferences::finish()
{
    m_tally.alreadyListed += m_maker->alreadyListed();
    m_tally.noWay = m_maker->withoutWay();
    m_maker.reset();
    m_pending.reset();
    m_busy = false;
    const QString details = ReferenceImportDetails(m_tally);
    const MessageIcon icon =
        m_tally.added == 0 && !m_tally.refused.isEmpty() ? MessageIcon::Critical : MessageIcon::Information;
    if (details.isEmpty())
        showMessage(icon, ReferenceImportText(m_tally));
    else
        showDetailedMessage(icon, ReferenceImportText(m_tally), details);
    m_tally = {};
    Q_EMIT importEnded();
}
