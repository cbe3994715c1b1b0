#include "batch/librarycommand.h"

#include "core/common/messenger.h"
#include "core/library/libraryopening.h"
#include "core/library/libraryview.h"
#include "core/library/paperlibrary.h"
#include "core/library/papermetadata.h"
#include "core/pdf/pdfchecker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTextStream>
#include <cstdio>

namespace {

// Rows read at a time for the list.
constexpr int kListPage = 1000;

QString stateWord(PaperState state)
{
    switch (state) {
    case PaperState::Held:
        return QStringLiteral("held");
    case PaperState::Missing:
        return QStringLiteral("missing");
    case PaperState::Damaged:
        return QStringLiteral("damaged");
    case PaperState::NotDownloaded:
        return QStringLiteral("not downloaded");
    case PaperState::NoFullText:
        return QStringLiteral("no full text");
    }
    return {};
}

QString problemWord(FileProblem::Kind kind)
{
    switch (kind) {
    case FileProblem::Kind::Missing:
        return QStringLiteral("missing");
    case FileProblem::Kind::Changed:
        return QStringLiteral("changed");
    case FileProblem::Kind::Damaged:
        return QStringLiteral("damaged");
    case FileProblem::Kind::NotChecked:
        return QStringLiteral("not checked");
    }
    return {};
}

// A value on a line of its own among tabs: text from web pages may hold tabs and line breaks.
QString field(const QString &text)
{
    return TidyCellText(text, 100000);
}

QJsonObject jsonOf(const LibraryRow &row)
{
    return QJsonObject{{QStringLiteral("address"), row.address},
                       {QStringLiteral("title"), row.title},
                       {QStringLiteral("authors"), row.authors},
                       {QStringLiteral("year"), row.year},
                       {QStringLiteral("source"), row.source},
                       {QStringLiteral("doi"), row.doi},
                       {QStringLiteral("state"), stateWord(row.state)},
                       {QStringLiteral("file"), row.filePath},
                       {QStringLiteral("size"), row.size},
                       {QStringLiteral("pages"), row.pages},
                       {QStringLiteral("downloadedAt"),
                        row.downloadedAt.isValid() ? row.downloadedAt.toString(Qt::ISODate) : QString()}};
}

QString lineOf(const LibraryRow &row)
{
    return QStringList{stateWord(row.state), field(row.year),   field(row.authors), field(row.title),
                       field(row.doi),       field(row.source), row.filePath,       field(row.address)}
        .join(u'\t');
}

int list(const LibraryCommand &command, PaperLibrary &library, QTextStream &out, QTextStream &err)
{
    const LibraryQuery query{command.query, LibraryColumn::Title, false};
    QJsonArray array;
    for (qint64 offset = 0;; offset += kListPage) {
        const std::optional<QList<LibraryRow>> rows = libraryview::rows(library, query, offset, kListPage);
        if (!rows) {
            err << library.lastError() << '\n';
            return 1;
        }
        for (const LibraryRow &row : *rows) {
            if (command.json)
                array.append(jsonOf(row));
            else
                out << lineOf(row) << '\n';
        }
        if (rows->size() < kListPage)
            break;
    }
    if (command.json)
        out << QJsonDocument(array).toJson(QJsonDocument::Indented);
    return 0;
}

int check(PaperLibrary &library, PdfChecker *checker, QTextStream &out, QTextStream &err)
{
    const LibraryCheckReport report = checkLibraryFiles(library, checker, nullptr);
    for (const FileProblem &p : report.problems) {
        QStringList parts{problemWord(p.kind), p.filePath, field(p.title)};
        if (!p.detail.isEmpty())
            parts.append(field(p.detail));
        out << parts.join(u'\t') << '\n';
    }
    const qsizetype bad =
        std::count_if(report.problems.cbegin(), report.problems.cend(),
                      [](const FileProblem &p) { return p.kind != FileProblem::Kind::NotChecked; });
    err << QStringLiteral("%1 held files checked, %2 missing, changed or damaged")
               .arg(report.checked)
               .arg(bad)
        << '\n';
    if (!report.written) {
        err << report.error << '\n';
        return 1;
    }
    return report.allWhole() ? 0 : 2;
}

int exportTo(const LibraryCommand &command, PaperLibrary &library, QTextStream &err)
{
    if (QFileInfo(command.file).canonicalFilePath() == QFileInfo(library.path()).canonicalFilePath() &&
        QFileInfo::exists(command.file)) {
        err << QStringLiteral("the export would overwrite the paper library %1").arg(library.path()) << '\n';
        return 1;
    }
    const std::optional<QStringList> addresses =
        libraryview::addresses(library, LibraryQuery{command.query, LibraryColumn::Title, false});
    const std::optional<QByteArray> bytes =
        addresses ? exportPapers(library, *addresses, command.format) : std::nullopt;
    if (!bytes) {
        err << library.lastError() << '\n';
        return 1;
    }
    QSaveFile file(command.file);
    if (!file.open(QIODevice::WriteOnly) || file.write(*bytes) != bytes->size() || !file.commit()) {
        err << QStringLiteral("%1 could not be written: %2").arg(command.file, file.errorString()) << '\n';
        return 1;
    }
    err << QStringLiteral("%1 papers written to %2").arg(addresses->size()).arg(command.file) << '\n';
    return 0;
}

} // namespace

namespace {

// Reads the options after the action; false with error set on a wrong one.
bool readOptions(const QStringList &rest, LibraryCommand *command, QString *error)
{
    bool fileGiven = false;
    for (qsizetype i = 0; i < rest.size(); ++i) {
        const QString &option = rest.at(i);
        const bool takesValue = option == QStringLiteral("--query") || option == QStringLiteral("--ris") ||
                                option == QStringLiteral("--bibtex");
        if (takesValue && i + 1 >= rest.size()) {
            *error = QStringLiteral("%1 needs a value").arg(option);
            return false;
        }
        if (option == QStringLiteral("--json") && command->action == LibraryCommand::Action::List) {
            command->json = true;
        } else if (option == QStringLiteral("--query") && command->action != LibraryCommand::Action::Check) {
            command->query = rest.at(++i);
        } else if (takesValue && command->action == LibraryCommand::Action::Export && !fileGiven) {
            command->format = option == QStringLiteral("--ris") ? ExportFormat::Ris : ExportFormat::BibTeX;
            command->file = QFileInfo(rest.at(++i)).absoluteFilePath();
            fileGiven = true;
        } else {
            *error = QStringLiteral("%1 is not an option here").arg(option);
            return false;
        }
    }
    if (command->action == LibraryCommand::Action::Export && !fileGiven) {
        *error = QStringLiteral("--library export needs --ris FILE or --bibtex FILE");
        return false;
    }
    return true;
}

} // namespace

LibraryCommandArguments parseLibraryCommand(const QStringList &arguments)
{
    LibraryCommandArguments parsed;
    const qsizetype at = arguments.indexOf(QStringLiteral("--library"));
    if (at < 0 || at + 1 >= arguments.size()) {
        parsed.error = QStringLiteral("--library needs one of check, list, export");
        return parsed;
    }
    const QString action = arguments.at(at + 1);
    LibraryCommand command;
    if (action == QStringLiteral("check"))
        command.action = LibraryCommand::Action::Check;
    else if (action == QStringLiteral("list"))
        command.action = LibraryCommand::Action::List;
    else if (action == QStringLiteral("export"))
        command.action = LibraryCommand::Action::Export;
    else {
        parsed.error = QStringLiteral("--library needs one of check, list, export, not %1").arg(action);
        return parsed;
    }
    const QStringList rest = arguments.mid(0, at) + arguments.mid(at + 2);
    if (readOptions(rest, &command, &parsed.error))
        parsed.command = command;
    return parsed;
}

int runLibraryCommand(const LibraryCommand &command, PaperLibrary &library, PdfChecker *checker,
                      QTextStream &out, QTextStream &err)
{
    switch (command.action) {
    case LibraryCommand::Action::Check:
        return check(library, checker, out, err);
    case LibraryCommand::Action::List:
        return list(command, library, out, err);
    case LibraryCommand::Action::Export:
        return exportTo(command, library, err);
    }
    return 1;
}

QString libraryUsage()
{
    return QStringLiteral(
        "usage: folionexus --library check\n"
        "       folionexus --library list [--json] [--query TEXT]\n"
        "       folionexus --library export --ris FILE | --bibtex FILE [--query TEXT]\n"
        "  check   checks every held file (present, unchanged, a whole PDF); one line per problem;\n"
        "          exit 0 when every file is present and whole, 2 otherwise\n"
        "  list    every paper (or those the query finds in title, authors, DOI or source), one line each:\n"
        "          state, year, authors, title, DOI, source, file, address, separated by tabs\n"
        "  export  the papers (or those the query finds) as RIS or BibTeX\n");
}

std::optional<int> libraryCommandMain(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (!arguments.contains(QStringLiteral("--library")))
        return std::nullopt;
    QTextStream out(stdout);
    QTextStream err(stderr);
    const LibraryCommandArguments parsed = parseLibraryCommand(arguments);
    if (!parsed.command) {
        err << "folionexus: " << parsed.error << '\n' << libraryUsage();
        return 1;
    }
    QCoreApplication app(argc, argv);
    // The same per-user folders as the windows: the library is theirs.
    QCoreApplication::setOrganizationName(QStringLiteral("Folionexus"));
    QCoreApplication::setApplicationName(kAppTitle);
    PaperLibrary library;
    const auto tell = [&err](bool, const QString &message) { err << message << '\n'; };
    if (!openLibraryTelling(library, tell))
        return 1;
    PdfChecker checker(PdfChecker::besideThisProgram());
    return runLibraryCommand(*parsed.command, library, &checker, out, err);
}
