#include "core/references/latextext.h"

#include <QHash>

namespace {

// The combining mark of an accent command; a null character when the command is no accent.
QChar accentMark(const QString &command)
{
    static const QHash<QString, char16_t> marks{
        {QStringLiteral("'"), 0x0301},  {QStringLiteral("`"), 0x0300}, {QStringLiteral("^"), 0x0302},
        {QStringLiteral("\""), 0x0308}, {QStringLiteral("~"), 0x0303}, {QStringLiteral("="), 0x0304},
        {QStringLiteral("."), 0x0307},  {QStringLiteral("u"), 0x0306}, {QStringLiteral("v"), 0x030C},
        {QStringLiteral("H"), 0x030B},  {QStringLiteral("c"), 0x0327}, {QStringLiteral("k"), 0x0328},
        {QStringLiteral("r"), 0x030A},  {QStringLiteral("d"), 0x0323}, {QStringLiteral("b"), 0x0331},
        {QStringLiteral("t"), 0x0361}};
    const auto it = marks.constFind(command);
    return it == marks.constEnd() ? QChar() : QChar(*it);
}

// What a command without arguments stands for; a null string for commands that are not known.
QString commandText(const QString &command)
{
    static const QHash<QString, QString> texts{
        {"ss", "ß"},         {"o", "ø"},         {"O", "Ø"},         {"ae", "æ"},
        {"AE", "Æ"},         {"oe", "œ"},        {"OE", "Œ"},        {"aa", "å"},
        {"AA", "Å"},         {"l", "ł"},         {"L", "Ł"},         {"i", "ı"},
        {"j", "ȷ"},          {"dh", "ð"},        {"DH", "Ð"},        {"th", "þ"},
        {"TH", "Þ"},         {"ng", "ŋ"},        {"NG", "Ŋ"},        {"textendash", "–"},
        {"textemdash", "—"}, {"ldots", "…"},     {"dots", "…"},      {"textbackslash", "\\"},
        {"TeX", "TeX"},      {"LaTeX", "LaTeX"}, {"copyright", "©"}, {"textregistered", "®"},
        {"S", "§"},          {"P", "¶"},         {"pounds", "£"},    {"textdegree", "°"},
        {"times", "×"},      {"pm", "±"},        {"alpha", "α"},     {"beta", "β"},
        {"gamma", "γ"},      {"delta", "δ"},     {"epsilon", "ε"},   {"varepsilon", "ε"},
        {"zeta", "ζ"},       {"eta", "η"},       {"theta", "θ"},     {"iota", "ι"},
        {"kappa", "κ"},      {"lambda", "λ"},    {"mu", "μ"},        {"nu", "ν"},
        {"xi", "ξ"},         {"pi", "π"},        {"rho", "ρ"},       {"sigma", "σ"},
        {"tau", "τ"},        {"upsilon", "υ"},   {"phi", "φ"},       {"varphi", "φ"},
        {"chi", "χ"},        {"psi", "ψ"},       {"omega", "ω"},     {"Gamma", "Γ"},
        {"Delta", "Δ"},      {"Theta", "Θ"},     {"Lambda", "Λ"},    {"Xi", "Ξ"},
        {"Pi", "Π"},         {"Sigma", "Σ"},     {"Phi", "Φ"},       {"Psi", "Ψ"},
        {"Omega", "Ω"},      {"infty", "∞"},     {"leq", "≤"},       {"geq", "≥"},
        {"neq", "≠"},        {"approx", "≈"},    {"cdot", "·"},      {"rightarrow", "→"},
        {"to", "→"}};
    const auto it = texts.constFind(command);
    return it == texts.constEnd() ? QString() : *it;
}

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

class LatexReader
{
public:
    explicit LatexReader(const QString &text) : m_text(text) {}

    QString run()
    {
        while (m_i < m_text.size())
            step();
        return m_out;
    }

private:
    QChar at(qsizetype i) const { return i < m_text.size() ? m_text.at(i) : QChar(); }

    void step()
    {
        const QChar c = m_text.at(m_i);
        if (c == u'\\') {
            command();
        } else if (c == u'{' || c == u'}') {
            ++m_i;
        } else if (c == u'$') {
            m_math = !m_math;
            ++m_i;
        } else if (m_math && (c == u'^' || c == u'_')) {
            ++m_i;
        } else if (c == u'~') {
            m_out += u' ';
            ++m_i;
        } else {
            punctuation(c);
        }
    }

    // Dashes and quotes written the TeX way; any other character as it is.
    void punctuation(QChar c)
    {
        const auto starts = [&](const char *s) { return m_text.mid(m_i).startsWith(QLatin1String(s)); };
        const struct
        {
            const char *tex;
            const char *text;
        } forms[] = {{"---", "—"}, {"--", "–"}, {"``", "“"}, {"''", "”"}};
        for (const auto &form : forms) {
            if (starts(form.tex)) {
                m_out += QString::fromUtf8(form.text);
                m_i += qsizetype(qstrlen(form.tex));
                return;
            }
        }
        m_out += c;
        ++m_i;
    }

    void command()
    {
        ++m_i; // the backslash
        const QChar first = at(m_i);
        if (first.isNull())
            return;
        if (!isAsciiLetter(first)) {
            ++m_i;
            symbolCommand(first);
            return;
        }
        const qsizetype start = m_i;
        while (isAsciiLetter(at(m_i)))
            ++m_i;
        const QString name = m_text.mid(start, m_i - start);
        // TeX takes the space after a command's name as its end, but sets one after an operator.
        static const QStringList operators{"log", "ln", "exp", "sin", "cos", "tan", "max", "min", "lim"};
        while (at(m_i) == u' ' && !operators.contains(name))
            ++m_i;
        if (const QChar mark = accentMark(name); !mark.isNull())
            accent(mark);
        else if (operators.contains(name))
            mathOperator(name);
        else
            m_out += commandText(name); // unknown commands go; their braced arguments stay as text
    }

    // "\log\log n": an operator's name stands apart from the letters around it.
    void mathOperator(const QString &name)
    {
        if (!m_out.isEmpty() && m_out.back().isLetterOrNumber())
            m_out += u' ';
        m_out += name;
        if (at(m_i).isLetterOrNumber() || at(m_i) == u'\\')
            m_out += u' ';
    }

    void symbolCommand(QChar c)
    {
        if (const QChar mark = accentMark(QString(c)); !mark.isNull()) {
            while (at(m_i) == u' ')
                ++m_i;
            accent(mark);
        } else if (c == u'\\' || c == u' ' || c == u',' || c == u';' || c == u':' || c == u'>') {
            m_out += u' ';                                // a line break or a space of some width
        } else if (c != u'-' && c != u'!' && c != u'/') { // hyphenation points, negative and italic spaces
            m_out += c;
        }
    }

    // The accent's argument: a braced group, "\i" or "\j", or one character. The mark goes after the
    // first letter the argument gives.
    void accent(QChar mark)
    {
        QString argument;
        if (at(m_i) == u'{') {
            const qsizetype end = closingBrace(m_i);
            argument = m_text.mid(m_i + 1, end - m_i - 1);
            m_i = end + 1;
        } else if (at(m_i) == u'\\' && (at(m_i + 1) == u'i' || at(m_i + 1) == u'j') &&
                   !isAsciiLetter(at(m_i + 2))) {
            argument = at(m_i + 1);
            m_i += 2;
        } else if (!at(m_i).isNull()) {
            argument = at(m_i);
            ++m_i;
        }
        if (argument == u"\\i" || argument == u"\\j")
            argument = argument.mid(1); // the dotless letter takes the accent in place of its dot
        QString base = LatexReader(argument).run();
        m_out += base.isEmpty() ? QString(mark) : base.left(1) + mark + base.mid(1);
    }

    qsizetype closingBrace(qsizetype open) const
    {
        int depth = 0;
        for (qsizetype i = open; i < m_text.size(); ++i) {
            if (m_text.at(i) == u'\\') {
                ++i;
            } else if (m_text.at(i) == u'{') {
                ++depth;
            } else if (m_text.at(i) == u'}' && --depth == 0) {
                return i;
            }
        }
        return m_text.size();
    }

    const QString &m_text;
    qsizetype m_i = 0;
    bool m_math = false;
    QString m_out;
};

} // namespace

QString LatexToUnicode(const QString &latex)
{
    if (!latex.contains(u'\\') && !latex.contains(u'{') && !latex.contains(u'$') && !latex.contains(u'~') &&
        !latex.contains(QLatin1String("--")) && !latex.contains(QLatin1String("``")) &&
        !latex.contains(QLatin1String("''")))
        return latex.simplified();
    return LatexReader(latex).run().normalized(QString::NormalizationForm_C).simplified();
}

QString LatexUnescapeAddress(const QString &latex)
{
    QString out;
    out.reserve(latex.size());
    for (qsizetype i = 0; i < latex.size(); ++i) {
        const QChar c = latex.at(i);
        if (c == u'\\' && i + 1 < latex.size() && QStringLiteral("_%&#$~{}").contains(latex.at(i + 1)))
            out += latex.at(++i);
        else if (c != u'{' && c != u'}')
            out += c;
    }
    return out.trimmed();
}
