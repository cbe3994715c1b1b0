#include "common/csv.h"

#include <QtTest>

class TestCsv : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cellsComeBackAsTheyWere_data()
    {
        QTest::addColumn<int>("quoting");
        QTest::newRow("quoted only where needed") << static_cast<int>(csv::Quoting::AsNeeded);
        QTest::newRow("every cell quoted") << static_cast<int>(csv::Quoting::Always);
    }
    void cellsComeBackAsTheyWere()
    {
        QFETCH(int, quoting);
        const QList<QStringList> rows{
            {"plain", "", "with, comma", "say \"hi\"", " padded "},
            {"=1+2", "+1", "-2", "@SUM(A1)", "\tTAB"},
            {"\rCR", "'=already", "''-twice", "'plain", "a=b"},
            {"two\r\nlines", "three\nmore\nlines", "'", "-", "end"},
        };
        QString text;
        for (const QStringList &row : rows)
            text += csv::line(row, static_cast<csv::Quoting>(quoting));
        csv::ParseError error;
        const QList<csv::Record> records = csv::parse(text, &error);
        QVERIFY2(!error, qPrintable(error.text()));
        QCOMPARE(records.size(), rows.size());
        for (qsizetype i = 0; i < rows.size(); ++i) {
            QStringList restored;
            for (const QString &cell : records.at(i).cells) {
                // Nothing a spreadsheet would run is left at the start of a cell.
                QVERIFY2(cell.isEmpty() || !QStringLiteral("=+-@\t\r").contains(cell.front()),
                         qPrintable(cell));
                restored.append(csv::restored(cell));
            }
            QCOMPARE(restored, rows.at(i));
        }
        // Records are numbered by the line they start on, line breaks inside cells counted (the carriage
        // return of the third row too).
        QCOMPARE(records.at(3).line, 5);
        const QList<csv::Record> after = csv::parse(text + "x,y\r\n", &error);
        QCOMPARE(after.last().line, 9);
    }

    void textThatBreaksIsRefusedAtItsLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("line");
        using Kind = csv::ParseError::Kind;
        QTest::newRow("a stray quote in a plain cell") << "a,b\r\nc,d\r\ne,f\"g\r\nh,i\r\n"
                                                       << static_cast<int>(Kind::QuoteInsideCell) << 3;
        QTest::newRow("text after a closing quote") << "a,b\r\n\"c\"d,e\r\n"
                                                    << static_cast<int>(Kind::TextAfterQuote) << 2;
        QTest::newRow("a quote never closed swallows nothing") << "a,b\r\n\"c,d\r\ne,f\r\ng,h\r\n"
                                                               << static_cast<int>(Kind::UnclosedQuote) << 2;
        QTest::newRow("the break after a cell of several lines")
            << "\"a\nb\nc\",d\ne\"f,g\n"
            << static_cast<int>(Kind::QuoteInsideCell) << 4;
    }
    void textThatBreaksIsRefusedAtItsLine()
    {
        QFETCH(QString, text);
        QFETCH(int, kind);
        QFETCH(int, line);
        csv::ParseError error;
        QVERIFY(csv::parse(text, &error).isEmpty());
        QCOMPARE(static_cast<int>(error.kind), kind);
        QCOMPARE(error.line, line);
        QVERIFY(error.text().startsWith(QStringLiteral("line %1: ").arg(line)));
    }
};

QTEST_APPLESS_MAIN(TestCsv)
#include "tst_csv.moc"
