// What the search window makes of an address the user types: what it opens, and what it refuses.
#include "core/search/givenaddress.h"
#include "testenv.h"

using Refusal = GivenAddress::Refusal;

class TestGivenAddress : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void typedAddressesAreOpenedOrRefused_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("refusal");
        QTest::addColumn<QString>("opened");
        QTest::addColumn<QString>("scheme");
        auto row = [](const char *name, const QString &typed, Refusal refusal, const QString &opened,
                      const QString &scheme = QString()) {
            QTest::newRow(name) << typed << int(refusal) << opened << scheme;
        };
        row("web address", QStringLiteral(" https://example.org/a?b=1 "), Refusal::None,
            QStringLiteral("https://example.org/a?b=1"));
        row("no scheme", QStringLiteral("example.org/search"), Refusal::None,
            QStringLiteral("http://example.org/search"));
        row("host and port", QStringLiteral("localhost:8080/x"), Refusal::None,
            QStringLiteral("http://localhost:8080/x"));
        row("saved page", QStringLiteral("file:///tmp/page.html"), Refusal::None,
            QStringLiteral("file:///tmp/page.html"));
        row("script", QStringLiteral("javascript:alert(1)"), Refusal::Scheme, QString(),
            QStringLiteral("javascript"));
        row("script in capitals", QStringLiteral("JavaScript:void(0)"), Refusal::Scheme, QString(),
            QStringLiteral("javascript"));
        row("data", QStringLiteral("data:text/html,<b>x</b>"), Refusal::Scheme, QString(),
            QStringLiteral("data"));
        row("words", QStringLiteral("deep learning"), Refusal::NotAnAddress, QString());
        row("web without host", QStringLiteral("http://"), Refusal::NotAnAddress, QString());
        row("blank", QStringLiteral("   "), Refusal::Empty, QString());
    }

    void typedAddressesAreOpenedOrRefused()
    {
        QFETCH(QString, typed);
        QFETCH(int, refusal);
        QFETCH(QString, opened);
        QFETCH(QString, scheme);
        const GivenAddress given = CheckGivenAddress(typed);
        QCOMPARE(int(given.refusal), refusal);
        QCOMPARE(given.url.toString(), opened);
        QCOMPARE(given.scheme, scheme);
    }
};

FN_TEST_MAIN_CORE(TestGivenAddress)
#include "tst_givenaddress.moc"
