#include "batch/batchoptions.h"

#include "batch/batchmanifest.h"
#include "core/references/findertemplate.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>

namespace {

bool readWholeNumber(const QString &text, int low, int high, int *value)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok || n < low || n > high)
        return false;
    *value = n;
    return true;
}

// One of the allowed words, or an error naming the option and the words.
bool readChoice(const QCommandLineParser &parser, const QString &option, const QStringList &words, int *index,
                QString *error)
{
    if (!parser.isSet(option))
        return true;
    const QString value = parser.value(option);
    const int i = static_cast<int>(words.indexOf(value));
    if (i < 0) {
        *error = QStringLiteral("--%1 must be one of %2, not \"%3\"").arg(option, words.join(u'|'), value);
        return false;
    }
    *index = i;
    return true;
}

bool readProxy(const QString &text, BatchOptions *options, QString *error)
{
    const int colon = static_cast<int>(text.lastIndexOf(u':'));
    int port = 0;
    if (colon <= 0 || !readWholeNumber(text.mid(colon + 1), 1, 65535, &port)) {
        *error =
            QStringLiteral("--proxy must be HOST:PORT with a port from 1 to 65535, not \"%1\"").arg(text);
        return false;
    }
    options->proxyHost = text.left(colon);
    options->proxyPort = static_cast<quint16>(port);
    return true;
}

QString absolutePath(const QString &path)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

QString absoluteFolder(const QString &path)
{
    QString folder = absolutePath(path);
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder;
}

bool isWebAddress(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

// The page a rules check reads: an address, or a saved copy with the address it was saved from.
bool readCheckedPage(const QCommandLineParser &parser, BatchOptions *options, QString *error)
{
    const QStringList positional = parser.positionalArguments();
    QString address;
    if (parser.isSet(QStringLiteral("page"))) {
        if (parser.value(QStringLiteral("page")).isEmpty() || !parser.isSet(QStringLiteral("base")) ||
            !positional.isEmpty()) {
            *error =
                QStringLiteral("--check-rules --page FILE needs --base URL (the address the page was saved "
                               "from) and no other page");
            return false;
        }
        options->checkSavedPage = absolutePath(parser.value(QStringLiteral("page")));
        address = parser.value(QStringLiteral("base"));
    } else if (parser.isSet(QStringLiteral("base")) || positional.size() != 1) {
        *error = QStringLiteral("--check-rules needs one page: URL, or --page FILE --base URL");
        return false;
    } else {
        address = positional.first();
    }
    const QUrl url(address, QUrl::StrictMode);
    if (!isWebAddress(url)) {
        *error =
            QStringLiteral("--check-rules needs an http:// or https:// address, not \"%1\"").arg(address);
        return false;
    }
    options->checkRulesPage = url;
    return true;
}

// The options of a rules check mean nothing to a run that downloads.
bool refuseCheckOnlyOptions(const QCommandLineParser &parser, QString *error)
{
    for (const char *checkOnly : {"page", "base", "all", "json"}) {
        if (parser.isSet(QString::fromLatin1(checkOnly))) {
            *error = QStringLiteral("--%1 goes with --check-rules").arg(QString::fromLatin1(checkOnly));
            return false;
        }
    }
    return true;
}

// --check-rules stands alone: nothing is downloaded, so no folder and no other source is taken.
bool readRulesCheck(const QCommandLineParser &parser, BatchOptions *options, QString *error)
{
    if (parser.isSet(QStringLiteral("input")) || parser.isSet(QStringLiteral("resume"))) {
        *error = QStringLiteral("--check-rules takes no --input or --resume");
        return false;
    }
    options->checkAll = parser.isSet(QStringLiteral("all"));
    options->checkJson = parser.isSet(QStringLiteral("json"));
    return readCheckedPage(parser, options, error);
}

bool readStartPage(const QStringList &positional, BatchOptions *options, QString *error)
{
    const int otherSources =
        (options->inputFile.isEmpty() ? 0 : 1) + (options->resumeFolder.isEmpty() ? 0 : 1);
    if (otherSources + (positional.isEmpty() ? 0 : 1) > 1) {
        *error = QStringLiteral("give one of a result page address, --input FILE or --resume DIR, not more");
        return false;
    }
    if (otherSources == 1)
        return true;
    if (positional.size() != 1) {
        *error = positional.isEmpty() ? QStringLiteral("the address of a result page is missing")
                                      : QStringLiteral("only one result page address is taken, got %1: %2")
                                            .arg(positional.size())
                                            .arg(positional.join(u' '));
        return false;
    }
    const QUrl url(positional.first(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty()) {
        *error = QStringLiteral("\"%1\" is not an http:// or https:// address").arg(positional.first());
        return false;
    }
    options->startPage = url;
    return true;
}

// --doi-resolver TEMPLATE: an http(s) address naming {doi} and nothing else.
bool readResolver(const QCommandLineParser &parser, BatchOptions *options, QString *error)
{
    if (!parser.isSet(QStringLiteral("doi-resolver")))
        return true;
    const QString value = parser.value(QStringLiteral("doi-resolver")).trimmed();
    if (const TemplateCheck check = CheckResolverTemplate(value); !check.ok()) {
        *error = QStringLiteral("--doi-resolver \"%1\" cannot be used: %2")
                     .arg(value, TemplateFaultText(check.fault));
        if (!check.detail.isEmpty())
            *error += QStringLiteral(" (%1)").arg(check.detail);
        return false;
    }
    options->doiResolver = value;
    return true;
}

bool readNumbers(const QCommandLineParser &parser, BatchOptions *options, QString *error)
{
    if (parser.isSet(QStringLiteral("threads")) &&
        !readWholeNumber(parser.value(QStringLiteral("threads")), 1, 6, &options->threads)) {
        *error = QStringLiteral("--threads must be a whole number from 1 to 6, not \"%1\"")
                     .arg(parser.value(QStringLiteral("threads")));
        return false;
    }
    if (parser.isSet(QStringLiteral("interval")) &&
        !readWholeNumber(parser.value(QStringLiteral("interval")), 0, kMaxIntervalSeconds,
                         &options->intervalSeconds)) {
        *error = QStringLiteral("--interval must be a whole number of seconds from 0 to %1, not \"%2\"")
                     .arg(kMaxIntervalSeconds)
                     .arg(parser.value(QStringLiteral("interval")));
        return false;
    }
    if (parser.isSet(QStringLiteral("retries")) &&
        !readWholeNumber(parser.value(QStringLiteral("retries")), 0, kMaxRetries, &options->retries)) {
        *error = QStringLiteral("--retries must be a whole number from 0 to %1, not \"%2\"")
                     .arg(kMaxRetries)
                     .arg(parser.value(QStringLiteral("retries")));
        return false;
    }
    return true;
}

bool readChoices(const QCommandLineParser &parser, BatchOptions *options, QString *error)
{
    int pages = 1;
    int method = 1;
    int policy = 2;
    int names = 0;
    int verification = 0;
    const QString templatePrefix = QStringLiteral("template:");
    if (parser.value(QStringLiteral("names")).startsWith(templatePrefix)) {
        options->nameTemplate = parser.value(QStringLiteral("names")).mid(templatePrefix.size());
        if (options->nameTemplate.trimmed().isEmpty()) {
            *error =
                QStringLiteral("--names template: needs a template, e.g. template:\"{年份}-{作者}-{标题}\"");
            return false;
        }
    }
    if (!readChoice(parser, QStringLiteral("pages"), {QStringLiteral("one"), QStringLiteral("all")}, &pages,
                    error) ||
        !readChoice(parser, QStringLiteral("method"), {QStringLiteral("1"), QStringLiteral("2")}, &method,
                    error) ||
        !readChoice(parser, QStringLiteral("policy"),
                    {QStringLiteral("skip"), QStringLiteral("overwrite"), QStringLiteral("rename")}, &policy,
                    error) ||
        (options->nameTemplate.isEmpty() &&
         !readChoice(parser, QStringLiteral("names"),
                     {QStringLiteral("title"), QStringLiteral("link"), QStringLiteral("template:...")},
                     &names, error)) ||
        !readChoice(parser, QStringLiteral("on-verification"),
                    {QStringLiteral("stop"), QStringLiteral("wait")}, &verification, error))
        return false;
    options->onVerification =
        verification == 0 ? BatchOptions::OnVerification::Stop : BatchOptions::OnVerification::Wait;
    options->pages = pages == 0 ? BatchOptions::Pages::One : BatchOptions::Pages::All;
    options->method = method + 1;
    options->policy = policy == 0 ? DuplicatePolicy::Skip
                                  : (policy == 1 ? DuplicatePolicy::Overwrite : DuplicatePolicy::Rename);
    options->namesFromLinks = names == 1;
    return true;
}

bool readOutFolder(const QCommandLineParser &parser, BatchOptions *options, QString *error)
{
    const QString out = parser.value(QStringLiteral("out"));
    // A manifest given by its path (one kept in the per-user data folder when the folder of the papers
    // could not take it) names the folder with --out; without it the papers go beside the manifest.
    const bool manifestGiven = !options->resumeFolder.isEmpty() &&
                               options->resumeManifest != options->resumeFolder + batchmanifest::FileName;
    if (manifestGiven && !out.isEmpty()) {
        options->outFolder = absoluteFolder(out);
        return true;
    }
    if (!options->resumeFolder.isEmpty()) {
        // A resumed run saves where the first one did.
        if (!out.isEmpty() && absoluteFolder(out) != options->resumeFolder) {
            *error = QStringLiteral("--resume DIR saves into DIR: leave --out out or name the same folder");
            return false;
        }
        options->outFolder = options->resumeFolder;
        return true;
    }
    if (out.isEmpty()) {
        if (options->listOnly)
            return true;
        *error = QStringLiteral("--out DIR is required: the folder the papers are saved in");
        return false;
    }
    options->outFolder = absoluteFolder(out);
    return true;
}

// --resume DIR or --resume FILE: a folder of an earlier run, or a manifest by its path (a file, or a name
// ending in ".csv" that is not a folder).
void readResume(const QString &value, BatchOptions *options)
{
    const QFileInfo given(absolutePath(value));
    if (given.isFile() || (!given.isDir() && given.suffix().compare(u"csv", Qt::CaseInsensitive) == 0)) {
        options->resumeManifest = given.absoluteFilePath();
        options->resumeFolder = absoluteFolder(given.absolutePath());
        return;
    }
    options->resumeFolder = absoluteFolder(value);
    options->resumeManifest = options->resumeFolder + batchmanifest::FileName;
}

bool readLibraryOptions(const QCommandLineParser &parser, BatchOptions *options, QString *error)
{
    options->useLibrary = !parser.isSet(QStringLiteral("no-library"));
    options->skipHeld = parser.isSet(QStringLiteral("skip-held"));
    options->checkPdf = !parser.isSet(QStringLiteral("no-pdf-check"));
    if (options->skipHeld && !options->useLibrary) {
        *error = QStringLiteral("--skip-held needs the paper library: it cannot go with --no-library");
        return false;
    }
    if (parser.isSet(QStringLiteral("input")))
        options->inputFile = absolutePath(parser.value(QStringLiteral("input")));
    if (parser.isSet(QStringLiteral("finders")))
        options->findersFile = absolutePath(parser.value(QStringLiteral("finders")));
    if (parser.isSet(QStringLiteral("resume")))
        readResume(parser.value(QStringLiteral("resume")), options);
    if (!options->resumeFolder.isEmpty() && options->listOnly) {
        *error = QStringLiteral("--list cannot go with --resume: the papers of a resumed run are known");
        return false;
    }
    for (const auto &[name, file] : {std::pair{QStringLiteral("ris"), &options->risFile},
                                     std::pair{QStringLiteral("bibtex"), &options->bibtexFile}}) {
        if (!parser.isSet(name))
            continue;
        if (parser.value(name).isEmpty()) {
            *error = QStringLiteral("--%1 needs a file name").arg(name);
            return false;
        }
        *file = absolutePath(parser.value(name));
    }
    return true;
}

// Where a write to the path lands: links followed (a dangling one too), the folder in its canonical
// spelling.
QString landingPath(const QString &path)
{
    QString current = QDir::cleanPath(path);
    for (int hops = 0; hops < 40 && QFileInfo(current).isSymLink(); ++hops)
        current = QDir::cleanPath(QFileInfo(current).symLinkTarget());
    const QFileInfo info(current);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? info.absolutePath() : folder) + u'/' + info.fileName();
}

bool sameFile(const QString &a, const QString &b)
{
    if (landingPath(a) == landingPath(b))
        return true;
    // Two names of one file (a hard link).
    struct stat first = {};
    struct stat second = {};
    return ::stat(QFile::encodeName(a).constData(), &first) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

} // namespace

QString outputConflict(const BatchOptions &options)
{
    struct Named
    {
        QString what;
        QString path;
        bool written;
    };
    QList<Named> files;
    if (!options.outFolder.isEmpty() && !options.listOnly)
        files.append({QStringLiteral("the manifest"), options.outFolder + batchmanifest::FileName, true});
    if (!options.inputFile.isEmpty())
        files.append({QStringLiteral("--input"), options.inputFile, false});
    if (!options.risFile.isEmpty())
        files.append({QStringLiteral("--ris"), options.risFile, true});
    if (!options.bibtexFile.isEmpty())
        files.append({QStringLiteral("--bibtex"), options.bibtexFile, true});
    // The manifest comes first and the exports last, so every pair with an export in second place is
    // looked at: an export must land on neither the manifest nor the list of links nor the other export.
    for (qsizetype i = 0; i < files.size(); ++i) {
        for (qsizetype j = i + 1; j < files.size(); ++j) {
            if (files.at(j).written && sameFile(files.at(i).path, files.at(j).path))
                return QStringLiteral("%1 and %2 name one file (%3): each needs a file of its own")
                    .arg(files.at(i).what, files.at(j).what, files.at(j).path);
        }
    }
    return QString();
}

namespace {

// What `folionexus --help` prints: every form of a batch run and its options. %1 and %2 are the
// default retries and DOI resolver.
const char kUsage[] = R"(Usage: folionexus --batch --out DIR [--pages one|all] [--method 1|2] [--threads 1-6]
                  [--interval SECONDS] [--policy skip|overwrite|rename] [--names title|link]
                  [--proxy HOST:PORT] [--retries N] [--on-verification stop|wait] [--list] URL
       folionexus --batch --out DIR [options] --input FILE
       folionexus --batch --resume DIR|MANIFEST [--out DIR] [options]
Other options: --names template:"{年份}-{作者}-{标题}", --skip-held, --no-library,
               --ris FILE, --bibtex FILE, --site-rules FILE, --no-pdf-check,
               --doi-resolver TEMPLATE, --finders FILE
       folionexus --check-pdf [DIR]
       folionexus --batch [--site-rules FILE] --check-rules [--all] [--json] URL
       folionexus --batch [--site-rules FILE] --check-rules [--all] [--json] --page FILE.html --base URL
Takes the papers of the result page URL (and of every following page with --pages all), or of
the list FILE (addresses, DOIs or arXiv ids one a line, title TAB address, BibTeX, RIS, CSL-JSON
or CSV with a doi, url or arxiv column), and downloads them into DIR,
keeping DIR/manifest.csv up to date. --resume runs again the rows of DIR/manifest.csv (or of the
manifest file given, into --out DIR or its own folder) that are not done.
--list only prints the papers found. --skip-held leaves out papers downloaded before whose file
is still there unchanged. --ris and --bibtex export the papers downloaded. --retries sets the
automatic retries of passing failures (%1); --on-verification says what a verification page does.
--site-rules FILE reads the result pages by the rules of FILE instead of those picked by the
page's host. --check-rules URL prints what the rules find on the page and exits 0 when it lists
at least one paper, 3 when none: the first five papers in full (--all: every one), or all of it as
JSON (--json). --page FILE.html --base URL checks a saved copy of the page at URL.
A listed paper is tried at its own file address, the finders (finders.json in the per-user data
folder, and --finders FILE), its arXiv PDF, then its DOI's landing page through the resolver
(--doi-resolver, default %2).
Exit status: 0 all files done, 2 some failed, 1 bad arguments or start page not loaded,
130 interrupted.
)";

} // namespace

QString batchUsage()
{
    return QString::fromUtf8(kUsage).arg(settingdefaults::Retries).arg(settingdefaults::DoiResolver);
}

namespace {

// The options batch mode knows; none of them has a description, as batchUsage() tells them all.
void addBatchOptions(QCommandLineParser &parser)
{
    const auto valued = [](const char *name, const char *valueName) {
        return QCommandLineOption(QString::fromLatin1(name), QString(), QString::fromLatin1(valueName));
    };
    parser.addOptions({QCommandLineOption(QStringLiteral("batch")),
                       valued("out", "DIR"),
                       valued("pages", "WHICH"),
                       valued("method", "N"),
                       valued("threads", "N"),
                       valued("interval", "SECONDS"),
                       valued("policy", "POLICY"),
                       valued("names", "SOURCE"),
                       valued("proxy", "HOST:PORT"),
                       valued("retries", "N"),
                       valued("on-verification", "WHAT"),
                       QCommandLineOption(QStringLiteral("list")),
                       valued("input", "FILE"),
                       valued("resume", "DIR"),
                       valued("ris", "FILE"),
                       valued("bibtex", "FILE"),
                       QCommandLineOption(QStringLiteral("no-library")),
                       QCommandLineOption(QStringLiteral("skip-held")),
                       QCommandLineOption(QStringLiteral("no-pdf-check")),
                       valued("site-rules", "FILE"),
                       valued("doi-resolver", "TEMPLATE"),
                       valued("finders", "FILE"),
                       QCommandLineOption(QStringLiteral("check-rules")),
                       valued("page", "FILE"),
                       valued("base", "URL"),
                       QCommandLineOption(QStringLiteral("all")),
                       QCommandLineOption(QStringLiteral("json")),
                       QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")})});
}

// The rules file every page of the run is read by, when one is given.
bool readSiteRulesFile(const QCommandLineParser &parser, BatchOptions *options, QString *error)
{
    if (!parser.isSet(QStringLiteral("site-rules")))
        return true;
    if (parser.value(QStringLiteral("site-rules")).isEmpty()) {
        *error = QStringLiteral("--site-rules needs a file name");
        return false;
    }
    options->siteRulesFile = absolutePath(parser.value(QStringLiteral("site-rules")));
    return true;
}

} // namespace

BatchArguments parseBatchArguments(const QStringList &arguments)
{
    BatchArguments result;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    addBatchOptions(parser);
    // The first entry stands for the program name.
    if (!parser.parse(QStringList{QStringLiteral("folionexus")} + arguments)) {
        result.error = parser.errorText();
        return result;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        result.helpAsked = true;
        return result;
    }
    BatchOptions &options = result.options;
    if (!readSiteRulesFile(parser, &options, &result.error))
        return result;
    if (parser.isSet(QStringLiteral("check-rules"))) {
        result.ok = readRulesCheck(parser, &options, &result.error);
        return result;
    }
    if (!refuseCheckOnlyOptions(parser, &result.error))
        return result;
    options.listOnly = parser.isSet(QStringLiteral("list"));
    if (!readLibraryOptions(parser, &options, &result.error) ||
        !readChoices(parser, &options, &result.error) || !readNumbers(parser, &options, &result.error) ||
        !readResolver(parser, &options, &result.error) ||
        (parser.isSet(QStringLiteral("proxy")) &&
         !readProxy(parser.value(QStringLiteral("proxy")), &options, &result.error)) ||
        !readOutFolder(parser, &options, &result.error) ||
        !readStartPage(parser.positionalArguments(), &options, &result.error))
        return result;
    result.ok = true;
    return result;
}
