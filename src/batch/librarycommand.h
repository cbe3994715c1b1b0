#pragma once

#include "core/librarymodel/libraryupkeep.h"

#include <QString>
#include <QStringList>
#include <optional>

class PaperLibrary;
class PdfChecker;
class QTextStream;

// "folionexus --library check | list [--json] [--query TEXT] | export --ris|--bibtex FILE [--query TEXT]":
// the paper library for scripts.
struct LibraryCommand
{
    enum class Action { Check, List, Export };
    Action action = Action::List;
    bool json = false;
    QString query; // the filter of the library window; empty: every paper
    ExportFormat format = ExportFormat::Ris;
    QString file; // absolute
};

struct LibraryCommandArguments
{
    std::optional<LibraryCommand> command; // none with error set
    QString error;
};

// Reads the arguments after the program name ("--library" among them). Nothing on disk is touched.
LibraryCommandArguments parseLibraryCommand(const QStringList &arguments);

// Runs the command: check prints one line per problem on out and exits 0 when every held file is present
// and whole, 2 otherwise; list prints one line per paper (tab-separated) or a JSON array; export writes the
// file. 1 when the library cannot be read or written, or the file cannot be written.
int runLibraryCommand(const LibraryCommand &command, PaperLibrary &library, PdfChecker *checker,
                      QTextStream &out, QTextStream &err);

// The command run on the user's library with the installed checker; nullopt when the arguments have no
// "--library".
std::optional<int> libraryCommandMain(int argc, char **argv);

QString libraryUsage();
