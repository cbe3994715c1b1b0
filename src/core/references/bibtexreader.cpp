// The one door to btparse. The library keeps its state in globals (its macro table, the lexer's buffers,
// the file being read) and reports through a table of handlers that it does not let callers change: its
// own print_error writes every warning and error to stderr. So: every call runs under one lock, the
// library is initialised once, macros are cleared around each list, and this file defines print_error,
// which takes the place of the library's own (the dynamic linker resolves the library's handler table to
// the program's definition) and hands each message to the list being read. The lexer underneath reports
// a character it cannot read through a hook of its own, zzerr, which is pointed the same way. What the
// library cannot take without crashing is kept from it: see bibtexentries.h and the guards below.
#include "core/common/safetext.h"
#include "core/references/bibtexentries.h"
#include "core/references/entryfields.h"
#include "core/references/identifiers.h"
#include "core/references/latextext.h"
#include "core/references/referencereaders.h"

#include <QRegularExpression>
#include <btparse.h>
#include <cstdio>
#include <mutex>
#include <optional>

extern "C" {
// The lexer's hook and the line it is on (PCCTS's DLG, inside btparse).
extern void (*zzerr)(const char *);
extern int zzline;
}

namespace {

struct BtMessage
{
    int errorClass = 0;
    int line = 0;
    QString text;
};

std::mutex &btMutex()
{
    static std::mutex mutex;
    return mutex;
}

// The messages of the list being read; set only while btMutex is held.
QList<BtMessage> *btMessages = nullptr;

void lexicalError(const char *message);
QByteArray withoutStandIns(QByteArray text);

// Holds the library for one list.
class BtSession
{
public:
    BtSession() : m_lock(btMutex())
    {
        static bool initialised = false;
        if (!initialised) {
            bt_initialize();
            bt_set_stringopts(BTE_REGULAR, BTO_FULL);
            bt_set_stringopts(BTE_MACRODEF, BTO_MACRO);
            zzerr = lexicalError;
            initialised = true;
        }
        bt_delete_all_macros();
        btMessages = &m_messages;
    }
    ~BtSession()
    {
        bt_delete_all_macros();
        btMessages = nullptr;
    }
    BtSession(const BtSession &) = delete;
    BtSession &operator=(const BtSession &) = delete;

    // The messages since the last call.
    QList<BtMessage> takeMessages() { return std::exchange(m_messages, {}); }

private:
    std::lock_guard<std::mutex> m_lock;
    QList<BtMessage> m_messages;
};

} // namespace

extern "C" {

void print_error(bt_error *error)
{
    if (btMessages && error)
        btMessages->append(
            {int(error->errclass), error->line,
             ShowableText(QString::fromUtf8(withoutStandIns(error->message ? error->message : "")))});
}

} // extern "C"

namespace {

// A character the lexer cannot read is passed over; the parser's own messages say whether the entry
// is broken by it.
void lexicalError(const char *message)
{
    if (btMessages)
        btMessages->append(
            {int(BTERR_LEXWARN), zzline, ShowableText(QString::fromUtf8(message ? message : ""))});
}

// btparse's parser keeps every field of an entry on a fixed stack and ends the program when it
// overflows (at about a hundred fields); entries with more fields than this are never handed to it.
constexpr int MaxFields = 80;

// Within one entry no "@" but its first starts anything, and no "%" means anything to the library; yet
// its way back from a syntax error skips to the next "@", one inside a value too, and is lost there (it
// ends the program), and some of its messages take text of the entry as a printf format. So while the
// library reads an entry, those characters are others that no list holds, and are given back in what
// it returns.
const QByteArray AtStandIn = QByteArrayLiteral("\xF4\x8F\xBF\xBD");      // U+10FFFD, for private use
const QByteArray PercentStandIn = QByteArrayLiteral("\xF4\x8F\xBF\xBC"); // U+10FFFC

QByteArray withStandIns(const QByteArray &entry)
{
    QByteArray out;
    out.reserve(entry.size());
    qsizetype done = 0;
    for (qsizetype i = 1; i < entry.size(); ++i) {
        if (entry.at(i) != '@' && entry.at(i) != '%')
            continue;
        out.append(entry.constData() + done, i - done);
        out.append(entry.at(i) == '@' ? AtStandIn : PercentStandIn);
        done = i + 1;
    }
    return done == 0 ? entry : out.append(entry.constData() + done, entry.size() - done);
}

QByteArray withoutStandIns(QByteArray text)
{
    if (!text.contains('\xF4')) // the first byte of both stand-ins
        return text;
    return text.replace(AtStandIn, "@").replace(PercentStandIn, "%");
}

QString firstError(const QList<BtMessage> &messages)
{
    for (const BtMessage &message : messages) {
        if (message.errorClass >= BTERR_LEXERR)
            return message.text;
    }
    return QStringLiteral("cannot be parsed");
}

// "von Last, Jr, First" of one name as btparse splits it.
QString formatName(bt_name *name)
{
    const auto part = [name](bt_namepart which) {
        QStringList tokens;
        for (int t = 0; t < name->part_len[which]; ++t)
            tokens.append(QString::fromUtf8(name->parts[which][t]));
        return tokens.join(u' ');
    };
    QString family = part(BTN_VON);
    family = (family.isEmpty() ? QString() : family + u' ') + part(BTN_LAST);
    QStringList out{family};
    for (bt_namepart which : {BTN_JR, BTN_FIRST}) {
        if (const QString text = part(which); !text.isEmpty())
            out.append(text);
    }
    out.removeAll(QString());
    return LatexToUnicode(out.join(QStringLiteral(", ")));
}

// btparse's name splitting reads past the name, or crashes, when a part of "von Last, Jr, First" is
// empty (a comma at either end, two commas together), when there are more parts, or when the braces do
// not pair up. Such a name is taken as written.
bool splitsSafely(const QByteArray &name)
{
    int depth = 0;
    int parts = 1;
    bool partHasText = false;
    for (const char c : name) {
        depth += c == '{' ? 1 : c == '}' ? -1 : 0;
        if (depth < 0)
            return false;
        if (c == ',' && depth == 0) {
            if (!partHasText)
                return false;
            ++parts;
            partHasText = false;
        } else if (c != ' ') {
            partHasText = true;
        }
    }
    return depth == 0 && parts <= 3 && partHasText;
}

void takeAuthors(ReferenceEntry &entry, const QByteArray &value)
{
    // The list splitter, too, wants the text as the parser leaves it: spaces collapsed, none at the ends.
    QByteArray names = value.simplified();
    if (names.isEmpty())
        return;
    bt_stringlist *list = bt_split_list(names.data(), const_cast<char *>("and"), nullptr, entry.line(),
                                        const_cast<char *>("name"));
    for (int i = 0; list && i < list->num_items; ++i) {
        const QByteArray one = QByteArray(list->items[i] ? list->items[i] : "").trimmed();
        if (!splitsSafely(one)) {
            TakeAuthor(entry, LatexToUnicode(QString::fromUtf8(one)));
            continue;
        }
        bt_name *name = bt_split_name(list->items[i], nullptr, entry.line(), i);
        TakeAuthor(entry, formatName(name));
        bt_free_name(name);
    }
    if (list)
        bt_free_list(list);
}

// The fields of one entry that say where the paper is, and the texts that may hide an arXiv id.
struct Gathered
{
    QString eprint;
    QString archivePrefix;
    QString date;
    QString bookTitle;
    QStringList arxivHints; // journal and note: "arXiv preprint arXiv:1706.03762"
};

// A "file" field as JabRef and Zotero write it: files apart at ";", each "description:path:type" with
// ":" and ";" inside escaped by a backslash. Only web addresses among them can be fetched.
void takeFileField(ReferenceEntry &entry, const QString &value)
{
    static const QRegularExpression fileSeparator(QStringLiteral("(?<!\\\\);"));
    static const QRegularExpression partSeparator(QStringLiteral("(?<!\\\\):"));
    for (const QString &file : value.split(fileSeparator)) {
        QStringList parts = file.split(partSeparator);
        const QString path = parts.size() >= 3 ? parts.at(1) : file;
        TakeFileAddress(entry, QString(path)
                                   .replace(QLatin1String("\\:"), QLatin1String(":"))
                                   .replace(QLatin1String("\\;"), QLatin1String(";")));
    }
}

// "\url{…}" in a howpublished or url field.
QString urlCommand(const QString &value)
{
    static const QRegularExpression url(QStringLiteral("\\\\url\\s*\\{([^}]*)\\}"));
    const QRegularExpressionMatch m = url.match(value);
    return m.hasMatch() ? m.captured(1) : QString();
}

enum class BibField {
    Doi,
    Url,
    HowPublished,
    Pdf,
    File,
    Eprint,
    ArchivePrefix,
    Title,
    Author,
    Year,
    Date,
    Journal,
    BookTitle,
    Note
};

// The fields that are read, by their names in lower case; the others (abstracts, keywords, ...) are
// passed over before anything is made of them.
std::optional<BibField> bibFieldOf(const QByteArray &name)
{
    static const QHash<QByteArray, BibField> fields{{"doi", BibField::Doi},
                                                    {"url", BibField::Url},
                                                    {"howpublished", BibField::HowPublished},
                                                    {"pdf", BibField::Pdf},
                                                    {"file", BibField::File},
                                                    {"eprint", BibField::Eprint},
                                                    {"archiveprefix", BibField::ArchivePrefix},
                                                    {"eprinttype", BibField::ArchivePrefix},
                                                    {"title", BibField::Title},
                                                    {"author", BibField::Author},
                                                    {"year", BibField::Year},
                                                    {"date", BibField::Date},
                                                    {"journal", BibField::Journal},
                                                    {"journaltitle", BibField::Journal},
                                                    {"booktitle", BibField::BookTitle},
                                                    {"note", BibField::Note}};
    const auto it = fields.constFind(name);
    return it == fields.constEnd() ? std::nullopt : std::optional<BibField>(*it);
}

// An address field's value: its "\url{…}" when it has one, without LaTeX's escapes.
QString addressOf(const QString &value)
{
    const QString url = urlCommand(value);
    return LatexUnescapeAddress(url.isEmpty() ? value : url);
}

// The fields that say where the paper is.
void takeAddressField(ReferenceEntry &entry, Gathered &gathered, BibField field, const QString &value)
{
    switch (field) {
    case BibField::Doi:
        TakeDoi(entry, addressOf(value));
        break;
    case BibField::HowPublished:
        if (urlCommand(value).isEmpty())
            break;
        [[fallthrough]];
    case BibField::Url:
        TakeAddress(entry, addressOf(value));
        break;
    case BibField::Pdf:
        TakeFileAddress(entry, addressOf(value));
        break;
    case BibField::File:
        takeFileField(entry, value);
        break;
    case BibField::Eprint:
        gathered.eprint = addressOf(value);
        break;
    case BibField::ArchivePrefix:
        gathered.archivePrefix = value.trimmed();
        break;
    default:
        break;
    }
}

void takeField(ReferenceEntry &entry, Gathered &gathered, BibField field, const QByteArray &bytes)
{
    const QString value = QString::fromUtf8(bytes);
    if (field == BibField::Journal || field == BibField::Note)
        gathered.arxivHints.append(value);
    if (field == BibField::Title)
        TakeTitle(entry, LatexToUnicode(value));
    else if (field == BibField::Author)
        takeAuthors(entry, bytes);
    else if (field == BibField::Year)
        TakeYear(entry, LatexToUnicode(value));
    else if (field == BibField::Date)
        gathered.date = value;
    else if (field == BibField::Journal)
        TakeJournal(entry, LatexToUnicode(value));
    else if (field == BibField::BookTitle)
        gathered.bookTitle = LatexToUnicode(value);
    else if (field != BibField::Note)
        takeAddressField(entry, gathered, field, value);
}

// An eprint is an arXiv id when the entry says so, or when it is written as one; "arXiv:…" in the journal
// or a note is one too. The date gives the year, and a book's title the journal, where the entry has none.
void takeGathered(ReferenceEntry &entry, const Gathered &gathered)
{
    static const QRegularExpression hint(QStringLiteral("arXiv:\\s*([^\\s,;}]+)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const bool arxiv = gathered.archivePrefix.compare(u"arXiv", Qt::CaseInsensitive) == 0;
    if (arxiv)
        TakeArxivId(entry, gathered.eprint);
    else if (gathered.archivePrefix.isEmpty() && !entry.has(ReferenceEntry::Field::Arxiv))
        entry.setValue(ReferenceEntry::Field::Arxiv, ReadArxivId(gathered.eprint));
    for (const QString &text : gathered.arxivHints) {
        if (!entry.has(ReferenceEntry::Field::Arxiv) &&
            text.contains(QLatin1String("arxiv"), Qt::CaseInsensitive))
            entry.setValue(ReferenceEntry::Field::Arxiv, ReadArxivId(hint.match(text).captured(1)));
    }
    TakeYear(entry, gathered.date);
    TakeJournal(entry, gathered.bookTitle);
}

// A field's value as the parser left it, macros expanded and pieces pasted together. (bt_get_text would
// make it again and hand over a copy to free.)
QByteArray valueOf(AST *field)
{
    QByteArray value;
    bt_nodetype type = BTAST_STRING;
    char *text = nullptr;
    for (AST *piece = bt_next_value(field, nullptr, &type, &text); piece;
         piece = bt_next_value(field, piece, &type, &text))
        value += text ? text : "";
    return withoutStandIns(value);
}

ReferenceEntry entryOfAst(AST *ast, int line)
{
    ReferenceEntry entry;
    entry.setLine(line);
    if (const char *key = bt_entry_key(ast))
        TakeKey(entry, QString::fromUtf8(withoutStandIns(key)));
    Gathered gathered;
    char *name = nullptr;
    for (AST *field = bt_next_field(ast, nullptr, &name); field; field = bt_next_field(ast, field, &name)) {
        if (const std::optional<BibField> known = bibFieldOf(QByteArray(name ? name : "").toLower()); known)
            takeField(entry, gathered, *known, valueOf(field));
    }
    takeGathered(entry, gathered);
    return entry;
}

QString keyOfText(const QByteArray &text)
{
    static const QRegularExpression key(QStringLiteral("@\\s*[A-Za-z]+\\s*[{(]\\s*([^,\\s]+)"));
    return key.match(QString::fromUtf8(text.left(1000))).captured(1);
}

char listName[] = "list"; // the file name btparse puts in its messages

ReferenceEntry brokenEntry(int line, const QString &key, const QString &why)
{
    ReferenceEntry entry;
    entry.setLine(line);
    TakeKey(entry, key);
    Refuse(entry, EntryProblem::CannotParse, why);
    return entry;
}

// What the library reports after the last entry it returned: an entry it could not even start. (That it
// expected an "@" is no entry: text without one.)
void takeTrailingErrors(QList<ReferenceEntry> &parsed, const QList<BtMessage> &messages, int firstLine)
{
    for (const BtMessage &message : messages) {
        if (message.errorClass >= BTERR_LEXERR && !message.text.contains(QLatin1String("expected \"@\""))) {
            parsed.append(brokenEntry(firstLine + std::max(message.line, 1) - 1, QString(), message.text));
            return;
        }
    }
}

// btparse holds on to the file it reads in a static variable and lets go of it only in the call that
// finds the file at its end. A call that meets no entry at all returns before that; the next file would
// then be read with the old one's state (or end the program). So the end is always asked for once more.
void letGoOfFile(FILE *file)
{
    while (std::fgetc(file) != EOF) {
    }
    boolean ok = FALSE;
    bt_parse_entry(file, listName, 0, &ok);
}

void takeAst(QList<ReferenceEntry> &parsed, AST *ast, bool ok, const QList<BtMessage> &messages,
             int firstLine)
{
    const int line = firstLine + ast->line - 1;
    const bool regular = bt_entry_metatype(ast) == BTE_REGULAR;
    if (ok && regular)
        parsed.append(entryOfAst(ast, line));
    else if (!ok)
        parsed.append(brokenEntry(
            line,
            regular && bt_entry_key(ast) ? QString::fromUtf8(withoutStandIns(bt_entry_key(ast))) : QString(),
            firstError(messages)));
}

// A broken @string, and some that parse, still define their macros, without a text (the library
// crashes on using them). Such macros are taken back, so that a later use reads as an undefined one.
void forgetBrokenMacros(AST *ast, bool ok)
{
    char *name = nullptr;
    for (AST *macro = bt_next_macro(ast, nullptr, &name); macro; macro = bt_next_macro(ast, macro, &name)) {
        bool whole = ok;
        bt_nodetype type = BTAST_STRING;
        char *text = nullptr;
        for (AST *piece = bt_next_value(macro, nullptr, &type, &text); piece && whole;
             piece = bt_next_value(macro, piece, &type, &text))
            whole = text != nullptr;
        if (!whole && name)
            bt_delete_macro(name);
    }
}

// Every entry the library makes of the file, to its end.
void readFile(BtSession &session, FILE *file, int line, QList<ReferenceEntry> &parsed)
{
    session.takeMessages();
    long stuckAt = -1;
    for (;;) {
        boolean ok = FALSE;
        if (AST *ast = bt_parse_entry(file, listName, 0, &ok)) {
            takeAst(parsed, ast, ok, session.takeMessages(), line);
            if (bt_entry_metatype(ast) == BTE_MACRODEF)
                forgetBrokenMacros(ast, ok);
            bt_free_ast(ast);
            continue;
        }
        if (ok)
            return; // the end of the file, and the library has let go of it
        const long at = std::ftell(file);
        if (std::feof(file) || at == stuckAt) {
            letGoOfFile(file);
            return;
        }
        stuckAt = at;
    }
}

// One whole entry through the library: what it makes of it, or why it was refused.
QList<ReferenceEntry> parseEntry(BtSession &session, const BibTeXEntries::Entry &found)
{
    const auto refused = [&found](const QString &why) {
        return QList<ReferenceEntry>{brokenEntry(found.line, keyOfText(found.text), why)};
    };
    if (!found.closed)
        return refused(QStringLiteral("it is not closed: a brace or a quote is missing"));
    if (found.fields > MaxFields)
        return refused(QStringLiteral("more than %1 fields").arg(MaxFields));
    QByteArray text = withStandIns(found.text);
    FILE *file = fmemopen(text.data(), size_t(text.size()), "r");
    if (!file)
        return refused(QStringLiteral("out of memory"));
    QList<ReferenceEntry> parsed;
    readFile(session, file, found.line, parsed);
    std::fclose(file);
    takeTrailingErrors(parsed, session.takeMessages(), found.line);
    return parsed;
}

} // namespace

void ReadBibTeX(ReferenceText &text, ReferenceCollector &into)
{
    BtSession session;
    BibTeXEntries entries(text);
    BibTeXEntries::Entry found;
    while (!into.full() && entries.next(&found)) {
        for (ReferenceEntry &entry : parseEntry(session, found))
            into.add(std::move(entry));
    }
}
