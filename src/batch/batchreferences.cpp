#include "batch/batchrun.h"
#include "core/queue/downloadqueue.h"
#include "core/references/referencelist.h"
#include "core/search/referenceimporting.h"
#include "core/transfer/diskworkers.h"

// The papers of a list given by --input: read on a worker, each entry that cannot be used named with its
// line, the rest listed under their identifiers and tried by way after way.

void BatchRun::takeLinkList()
{
    m_phase = Phase::Taking;
    // The run goes on when the list is in (unless it was interrupted meanwhile).
    diskwork::workThenPost(
        this,
        [path = m_options.inputFile, finders = m_options.findersFile] {
            return ListTake{ReadReferenceFile(path), ReadRunFinders(finders)};
        },
        [this](const ListTake &taken) { tookReferenceList(taken); });
}

void BatchRun::tookReferenceList(const ListTake &taken)
{
    if (m_phase != Phase::Taking)
        return;
    if (!taken.finders.ok())
        return fail(QStringLiteral("the finders cannot be used: ") + taken.finders.error->text());
    m_references.setFinders(ReadersOf(taken.finders.finders));
    const ReferenceList &list = taken.list;
    const QString &file = m_options.inputFile;
    if (!list.ok()) {
        QString why = ListFailureText(list.failure);
        if (!list.failureDetail.isEmpty())
            why += QStringLiteral(": ") + list.failureDetail;
        return fail(QStringLiteral("the list %1 could not be read: %2").arg(file, why));
    }
    for (const ReferenceEntry &entry : list.refused)
        batchMessage(file + QStringLiteral(": ") + RefusedEntryText(entry));
    for (const MergedEntry &merged : list.merged)
        batchMessage(QStringLiteral("%1: line %2: the same paper as line %3, listed once")
                         .arg(file)
                         .arg(merged.line)
                         .arg(merged.sameAs));
    AddReferenceEntries(list, m_candidates, m_references, m_options.outFolder);
    batchMessage(QStringLiteral("%1 papers listed in %2 (%3)")
                     .arg(m_candidates.count())
                     .arg(file, ReferenceFormatName(list.format)));
    tellFinders();
    onPagesTaken();
}

void BatchRun::tellFinders()
{
    QStringList names;
    for (const std::shared_ptr<const FinderAnswerReader> &reader : m_references.finders())
        names.append(reader->finder().name);
    if (!names.isEmpty())
        batchMessage(
            QStringLiteral("asking the finders %1 for each paper").arg(names.join(QStringLiteral(", "))));
}

bool BatchRun::handOverListed(int position)
{
    const CandidateRow &paper = m_candidates.row(position);
    if (m_downloads.containsKey(paper.key))
        return true;
    DownloadRow row =
        HandOverRow(paper.key, paper.metadata(), paper.type,
                    paper.folder.isEmpty() ? m_handOver.defaultFolder : paper.folder, paper.tag, m_handOver);
    row.identifier = m_references.identifierOf(paper.key);
    row.origin = m_references.originOf(paper.key);
    return m_queue->enqueue(row) != RowId::None;
}
