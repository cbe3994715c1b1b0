// "检查PDF文件" checks the structure of the list's PDFs with the session's checker, off the GUI thread:
// each row takes its verdict, a damaged file fails its row (the file stays, the row's own) and the rows
// that failed so are sent back to the queue by one command.
#include "core/pdf/pdfchecker.h"
#include "core/queue/downloadqueue.h"
#include "core/queue/downloadsession.h"
#include "core/rows/targetfile.h"
#include "core/sites/siterules.h"
#include "testenv.h"
#include "testpdf.h"
#include "testrows.h"

#include <QTemporaryDir>

using State = PdfVerdict::State;

class TestPdfCommand : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    RowId addDone(DownloadListModel &model, const QString &name, const QByteArray &bytes)
    {
        DownloadRow row;
        row.key = QStringLiteral("http://site/") + name;
        row.name = name;
        row.type = QStringLiteral("pdf");
        row.folder = m_dir.path() + u'/';
        row.state = RowState::Done;
        const QString path = rowFilePath(row);
        fntest::writeFile(path, bytes);
        row.owned = OwnedFile{path, IdentityOf(path)};
        return TestRows::of(model).addRow(row);
    }

private Q_SLOTS:
    void theRowsTakeTheirVerdicts()
    {
        PdfChecker checker(QStringLiteral(FOLIONEXUS_PDFCHECK_EXE));
        DownloadSession session(builtInSiteCatalog());
        session.setPdfChecker(&checker);
        QCOMPARE(session.pdfChecker(), &checker);
        DownloadListModel &model = *session.model();
        const QList<fntest::PdfCase> cases = fntest::pdfCases();
        QList<RowId> ids;
        for (int i = 0; i < cases.size(); ++i)
            ids << addDone(model, QStringLiteral("p%1").arg(i), cases.at(i).bytes);
        const RowId caj = addDone(model, QStringLiteral("caj"), QByteArray("\xC8\x00\x00\x00 a CAJ", 10));

        std::optional<PdfCheckTally> tally;
        QVERIFY(
            session.queue()->commands().checkPdfFiles([&](const PdfCheckTally &found) { tally = found; }));
        QVERIFY(!session.queue()->commands().checkPdfFiles({})); // one check at a time
        QTRY_VERIFY_WITH_TIMEOUT(tally.has_value(), 30000);
        PdfCheckTally expected;
        expected.renamed = 1;
        expected.whole = expected.repaired = expected.encrypted = 1;
        expected.damaged = 5;
        QCOMPARE(*tally, expected);
        QCOMPARE(model.find(caj)->type, QStringLiteral("CAJ")); // the renaming it did before stays

        for (int i = 0; i < cases.size(); ++i) {
            const DownloadRow &row = *model.find(ids.at(i));
            QCOMPARE(row.pdf.state, cases.at(i).state);
            const bool damaged = cases.at(i).state == State::Damaged;
            QCOMPARE(row.state, damaged ? RowState::Failed : RowState::Done);
            QCOMPARE(row.reason.kind, damaged ? FailureReason::Kind::PdfDamaged : FailureReason::Kind::None);
            // The user's file is never removed by a check: it stays the row's own.
            QVERIFY(IsStillOwned(row.owned));
        }

        // One command sends the damaged rows, and only those, back to the queue.
        QCOMPARE(session.queue()->commands().redownloadDamaged(), 5);
        for (int i = 0; i < cases.size(); ++i)
            QCOMPARE(model.find(ids.at(i))->state,
                     cases.at(i).state == State::Damaged ? RowState::Waiting : RowState::Done);
        QCOMPARE(session.queue()->commands().redownloadDamaged(), 0);
    }

    // Without a checker the command only renames, as it did before the check came.
    void withoutACheckerNothingIsJudged()
    {
        DownloadSession session(builtInSiteCatalog());
        DownloadListModel &model = *session.model();
        const RowId cut = addDone(model, QStringLiteral("cut"), fntest::TestPdf{}.bytes().chopped(30));
        std::optional<PdfCheckTally> tally;
        QVERIFY(
            session.queue()->commands().checkPdfFiles([&](const PdfCheckTally &found) { tally = found; }));
        QTRY_VERIFY_WITH_TIMEOUT(tally.has_value(), 10000);
        QCOMPARE(*tally, PdfCheckTally());
        QCOMPARE(model.find(cut)->state, RowState::Done);
    }
};

FN_TEST_MAIN_CORE(TestPdfCommand)
#include "tst_pdfcommand.moc"
