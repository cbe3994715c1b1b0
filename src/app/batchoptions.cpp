#include "app/batchoptions.h"

#include <QCommandLineParser>
#include <QDir>

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

bool readStartPage(const QStringList &positional, BatchOptions *options, QString *error)
{
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
    if (!readChoice(parser, QStringLiteral("pages"), {QStringLiteral("one"), QStringLiteral("all")}, &pages,
                    error) ||
        !readChoice(parser, QStringLiteral("method"), {QStringLiteral("1"), QStringLiteral("2")}, &method,
                    error) ||
        !readChoice(parser, QStringLiteral("policy"),
                    {QStringLiteral("skip"), QStringLiteral("overwrite"), QStringLiteral("rename")}, &policy,
                    error) ||
        !readChoice(parser, QStringLiteral("names"), {QStringLiteral("title"), QStringLiteral("link")},
                    &names, error) ||
        !readChoice(parser, QStringLiteral("on-verification"), {QStringLiteral("stop"), QStringLiteral("wait")},
                    &verification, error))
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
    if (out.isEmpty()) {
        if (options->listOnly)
            return true;
        *error = QStringLiteral("--out DIR is required: the folder the papers are saved in");
        return false;
    }
    QString folder = QDir::cleanPath(QDir::current().absoluteFilePath(out));
    if (!folder.endsWith(u'/'))
        folder += u'/';
    options->outFolder = folder;
    return true;
}

} // namespace

QString batchUsage()
{
    return QStringLiteral(
        "Usage: folionexus --batch --out DIR [--pages one|all] [--method 1|2] [--threads 1-6]\n"
        "                  [--interval SECONDS] [--policy skip|overwrite|rename] [--names title|link]\n"
        "                  [--proxy HOST:PORT] [--retries N] [--on-verification stop|wait] [--list] URL\n"
        "Takes the papers of the result page URL (and of every following page with --pages all) and\n"
        "downloads them into DIR, writing DIR/manifest.csv. --list only prints the papers found.\n"
        "Exit status: 0 all files done, 2 some failed, 1 bad arguments or start page not loaded,\n"
        "130 interrupted.\n");
}

BatchArguments parseBatchArguments(const QStringList &arguments)
{
    BatchArguments result;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const auto valued = [](const char *name, const char *valueName) {
        return QCommandLineOption(QString::fromLatin1(name), QString(), QString::fromLatin1(valueName));
    };
    parser.addOptions({QCommandLineOption(QStringLiteral("batch")), valued("out", "DIR"),
                       valued("pages", "WHICH"), valued("method", "N"), valued("threads", "N"),
                       valued("interval", "SECONDS"), valued("policy", "POLICY"), valued("names", "SOURCE"),
                       valued("proxy", "HOST:PORT"), valued("retries", "N"), valued("on-verification", "WHAT"),
                       QCommandLineOption(QStringLiteral("list")),
                       QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")})});
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
    options.listOnly = parser.isSet(QStringLiteral("list"));
    if (!readChoices(parser, &options, &result.error) || !readNumbers(parser, &options, &result.error) ||
        (parser.isSet(QStringLiteral("proxy")) &&
         !readProxy(parser.value(QStringLiteral("proxy")), &options, &result.error)) ||
        !readOutFolder(parser, &options, &result.error) ||
        !readStartPage(parser.positionalArguments(), &options, &result.error))
        return result;
    result.ok = true;
    return result;
}
