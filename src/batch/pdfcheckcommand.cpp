#include "batch/pdfcheckcommand.h"

#include "core/common/messenger.h"
#include "core/common/safetext.h"
#include "core/library/libraryopening.h"
#include "core/library/paperlibrary.h"
#include "core/pdf/pdfchecker.h"
#include "core/pdf/pdffolder.h"
#include "core/transfer/partfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace pdfcheckcommand {

namespace {

using State = PdfVerdict::State;

void printTo(FILE *stream, const QString &text)
{
    std::fputs((text + u'\n').toUtf8().constData(), stream);
    std::fflush(stream);
}

} // namespace

QStringList pdfFilesIn(const QString &folder)
{
    // A download's temporary file, under way or kept to be resumed, is no finished file to judge.
    return PdfFilesIn(folder, FolderDepth::WithSubfolders, QLatin1String(PartFile::Prefix));
}

QList<Checked> checkAll(PdfChecker &checker, const QStringList &paths)
{
    QList<Checked> checked(paths.size());
    std::atomic<qsizetype> next{0};
    const auto work = [&] {
        for (qsizetype i = next++; i < paths.size(); i = next++)
            checked[i] = Checked{paths.at(i), checker.checkFile(paths.at(i))};
    };
    std::vector<std::thread> threads;
    const int count =
        std::clamp<int>(checker.limits().processes, 1, int(std::max<qsizetype>(1, paths.size())));
    for (int i = 0; i < count; ++i)
        threads.emplace_back(work);
    for (std::thread &thread : threads)
        thread.join();
    return checked;
}

QString lineFor(const Checked &checked)
{
    const QString path = ShowableText(checked.path);
    switch (checked.verdict.state) {
    case State::Damaged:
        return QStringLiteral("damaged   %1  (%2)").arg(path, pdfVerdictCause(checked.verdict));
    case State::Repaired:
        return QStringLiteral("repaired  %1").arg(path);
    case State::Whole:
    case State::Encrypted:
    case State::NotChecked:
        break;
    }
    return {};
}

QString summary(const QList<Checked> &checked)
{
    int counts[5] = {};
    for (const Checked &one : checked)
        ++counts[int(one.verdict.state)];
    QString text = QStringLiteral("%1 PDF files checked: %2 whole, %3 repaired, %4 encrypted, %5 damaged")
                       .arg(checked.size())
                       .arg(counts[int(State::Whole)])
                       .arg(counts[int(State::Repaired)])
                       .arg(counts[int(State::Encrypted)])
                       .arg(counts[int(State::Damaged)]);
    if (const int notChecked = counts[int(State::NotChecked)]; notChecked > 0)
        text += QStringLiteral(", %1 not checked").arg(notChecked);
    return text;
}

namespace {

// The files the library holds, or false when it cannot be opened.
bool libraryFiles(PaperLibrary &library, QStringList *paths)
{
    if (!openLibraryTelling(library, [](bool, const QString &message) {
            printTo(stderr, QStringLiteral("folionexus: ") + message);
        }))
        return false;
    // A held CAJ or KDH file is a paper too, but no PDF: it is not the check's to judge.
    for (const PaperRecord &record : library.downloadedRecords()) {
        if (IsPdfFile(record.held.filePath))
            paths->append(record.held.filePath);
    }
    return true;
}

void recordInLibrary(PaperLibrary &library, const QList<Checked> &checked)
{
    QList<PdfCheckRecord> records;
    for (const Checked &one : checked)
        records.append({one.path, pdfStateWord(one.verdict.state), one.verdict.pages, {}});
    if (!library.recordPdfChecks(records))
        printTo(stderr, QStringLiteral("folionexus: the verdicts could not be recorded in the library: ") +
                            library.lastError());
}

// Prints a line for each damaged or repaired file, and names on stderr each file the check could not
// judge with the cause (no verdict on the file); whether any is damaged.
bool printVerdicts(const QList<Checked> &checked)
{
    bool damaged = false;
    for (const Checked &one : checked) {
        damaged = damaged || one.verdict.state == State::Damaged;
        if (const QString line = lineFor(one); !line.isEmpty())
            printTo(stdout, line);
        if (one.verdict.state == State::NotChecked && one.verdict.unchecked != pdfverdict::Unchecked::None)
            printTo(stderr, QStringLiteral("folionexus: not checked: %1  (%2)")
                                .arg(ShowableText(one.path), pdfVerdictCause(one.verdict)));
    }
    return damaged;
}

} // namespace

int run(const QStringList &arguments)
{
    const qsizetype at = arguments.indexOf(QStringLiteral("--check-pdf"));
    const QStringList rest = at < 0 ? QStringList() : arguments.mid(at + 1);
    if (rest.size() > 1 || (rest.size() == 1 && rest.first().startsWith(u'-'))) {
        printTo(stderr, QStringLiteral("folionexus: usage: folionexus --check-pdf [DIR]"));
        return 1;
    }
    QCoreApplication::setOrganizationName(QStringLiteral("Folionexus"));
    QCoreApplication::setApplicationName(kAppTitle);
    PaperLibrary library;
    QStringList paths;
    if (rest.isEmpty()) {
        if (!libraryFiles(library, &paths))
            return 1;
    } else if (!QFileInfo(rest.first()).isDir()) {
        printTo(stderr, QStringLiteral("folionexus: %1 is not a folder").arg(ShowableText(rest.first())));
        return 1;
    } else {
        paths = pdfFilesIn(rest.first());
    }
    PdfChecker checker(PdfChecker::besideThisProgram());
    const QList<Checked> checked = checkAll(checker, paths);
    if (rest.isEmpty())
        recordInLibrary(library, checked);
    const bool damaged = printVerdicts(checked);
    printTo(stderr, QStringLiteral("folionexus: ") + summary(checked));
    return damaged ? 2 : 0;
}

} // namespace pdfcheckcommand
