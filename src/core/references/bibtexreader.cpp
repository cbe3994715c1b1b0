// The one door to btparse. The library keeps its state in globals (its macro table, the lexer's buffers,
// the file being read) and reports through a table of handlers that it does not let callers change: its
// own print_error writes every warning and error to stderr. So: every call runs under one lock, the
// library is initialised once, macros are cleared around each list, and this file defines print_error,
// which takes the place of the library's own (the dynamic linker resolves the library's handler table to
// the program's definition) and hands each message to the list being read.
#include "core/common/safetext.h"
#include "core/references/entryfields.h"
#include "core/references/identifiers.h"
#include "core/references/latextext.h"
#include "core/references/referencereaders.h"

#include <QRegularExpression>
#include <btparse.h>
#include <cstdio>
#include <mutex>
#include <optional>

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

extern "C" void print_error(bt_error *error)
{
    if (btMessages && error)
        btMessages->append({int(error->errclass), error->line,
                            ShowableText(QString::fromUtf8(error->message ? error->message : ""))});
}

namespace {

// btparse's parser keeps every field of an entry on a fixed stack and ends the program when it
// overflows (at about a hundred fields); entries with more fields than this are never handed to it.
constexpr int MaxFields = 80;

// The most "field = value" assignments of one entry in the text: "=" signs inside the entry's braces
// (or parentheses) and outside its values.
int mostFields(const QByteArray &text)
{
    int depth = 0;
    bool quoted = false;
    char close = 0;
    int fields = 0;
    int most = 0;
    for (const char c : text) {
        if (depth == 0) {
            if (c == '{' || c == '(') {
                depth = 1;
                close = c == '{' ? '}' : ')';
                fields = 0;
            }
        } else if (depth == 1 && !quoted && c == '=') {
            most = std::max(most, ++fields);
        } else if (depth == 1 && c == '"') {
            quoted = !quoted;
        } else if (c == '{') {
            ++depth;
        } else if (depth == 1 && !quoted && c == close) {
            depth = 0;
        } else if (c == '}' && depth > 1) {
            --depth;
        }
    }
    return most;
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

void takeAuthors(ReferenceEntry &entry, const QByteArray &value)
{
    QByteArray names = value;
    bt_stringlist *list = bt_split_list(names.data(), const_cast<char *>("and"), nullptr, entry.line(),
                                        const_cast<char *>("name"));
    for (int i = 0; list && i < list->num_items; ++i) {
        if (!list->items[i])
            continue;
        bt_name *name = bt_split_name(list->items[i], nullptr, entry.line(), i);
        TakeAuthor(entry, formatName(name));
        bt_free_name(name);
    }
    if (list)
        bt_free_list(list);
}

} // namespace

namespace {

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
    default:
        gathered.archivePrefix = value.trimmed();
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

// An eprint is an arXiv id when the entry says so, or when it is written as one.
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
    return value;
}

ReferenceEntry entryOfAst(AST *ast, int line)
{
    ReferenceEntry entry;
    entry.setLine(line);
    if (const char *key = bt_entry_key(ast))
        TakeKey(entry, QString::fromUtf8(key));
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

} // namespace

namespace {

bool startsEntry(const QByteArray &line)
{
    for (const char c : line) {
        if (c != ' ' && c != '\t')
            return c == '@';
    }
    return false;
}

// The text in pieces, each from a line that starts with "@" to the next such line (the first from the
// start of the text), so that an unbalanced brace or quote spoils one entry rather than the rest of the
// list. (A value holding a line that starts with "@" is cut there too: its entry is refused, not read
// together with the next entries.)
class BibPieces
{
public:
    explicit BibPieces(ReferenceText &text) : m_text(text) {}

    // The next piece and the line it starts on; false at the end of the text.
    bool next(QByteArray *piece, int *line);

private:
    ReferenceText &m_text;
    QByteArray m_next; // the line that starts the next piece
    int m_nextLine = 0;
    bool m_ended = false;
};

bool BibPieces::next(QByteArray *piece, int *line)
{
    piece->resize(0);
    *line = m_nextLine;
    if (!m_next.isEmpty())
        *piece += std::exchange(m_next, QByteArray()) + '\n';
    if (m_ended && piece->isEmpty())
        return false;
    QByteArray read;
    while (!m_ended) {
        if (!m_text.readLine(&read)) {
            m_ended = true;
        } else if (startsEntry(read) && !piece->trimmed().isEmpty()) {
            m_next = read;
            m_nextLine = m_text.lineNumber();
            break;
        } else {
            if (piece->isEmpty())
                *line = m_text.lineNumber();
            *piece += read;
            *piece += '\n';
        }
    }
    return true;
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

// What the library reports after the last entry it returned: an entry it could not even start. Text
// with no entry in it at all (comments before the first one) only makes it say it expected an "@".
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
        parsed.append(
            brokenEntry(line, regular && bt_entry_key(ast) ? QString::fromUtf8(bt_entry_key(ast)) : QString(),
                        firstError(messages)));
}

QList<ReferenceEntry> parsePiece(BtSession &session, QByteArray text, int firstLine)
{
    QList<ReferenceEntry> parsed;
    if (text.trimmed().isEmpty())
        return parsed;
    if (mostFields(text) > MaxFields) {
        parsed.append(
            brokenEntry(firstLine, keyOfText(text), QStringLiteral("more than %1 fields").arg(MaxFields)));
        return parsed;
    }
    FILE *file = fmemopen(text.data(), size_t(text.size()), "r");
    if (!file) {
        parsed.append(brokenEntry(firstLine, keyOfText(text), QStringLiteral("out of memory")));
        return parsed;
    }
    session.takeMessages();
    long stuckAt = -1;
    for (;;) {
        boolean ok = FALSE;
        if (AST *ast = bt_parse_entry(file, listName, 0, &ok)) {
            takeAst(parsed, ast, ok, session.takeMessages(), firstLine);
            bt_free_ast(ast);
            continue;
        }
        if (ok)
            break; // the end of the file, and the library has let go of it
        const long at = std::ftell(file);
        if (std::feof(file) || at == stuckAt) {
            letGoOfFile(file);
            break;
        }
        stuckAt = at;
    }
    std::fclose(file);
    takeTrailingErrors(parsed, session.takeMessages(), firstLine);
    return parsed;
}

} // namespace

void ReadBibTeX(ReferenceText &text, ReferenceCollector &into)
{
    BtSession session;
    BibPieces pieces(text);
    QByteArray piece;
    int line = 0;
    while (!into.full() && pieces.next(&piece, &line)) {
        for (ReferenceEntry &entry : parsePiece(session, piece, line))
            into.add(std::move(entry));
    }
}
