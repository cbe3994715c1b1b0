// Finished PDFs are checked on their way to their names, in both methods: a whole, repaired or encrypted
// file ends Done with its verdict, a damaged one never takes the paper's name, is fetched again once,
// whole, and fails the row when the second copy is damaged too.
#include "core/pdf/pdfchecker.h"
#include "core/transfer/downloadscheduler.h"
#include "faultserver.h"
#include "queuefixture.h"
#include "testenv.h"
#include "testpdf.h"

#include <QTest>

using Reply = FaultServer::Reply;
using State = PdfVerdict::State;
using Kind = FailureReason::Kind;
Q_DECLARE_METATYPE(State)

namespace {

Reply paper(const QByteArray &bytes)
{
    Reply reply;
    reply.body = bytes;
    reply.ranges = true; // a server that would serve a range: the second try must not ask for one
    reply.etag = "\"v1\"";
    return reply;
}

} // namespace

class TestPdfQueue : public QObject
{
    Q_OBJECT

    FaultServer m_server;
    std::unique_ptr<PdfChecker> m_checker;
    std::unique_ptr<QueueFixture> m_queue;

    QList<FaultServer::Request> requestsFor(const QByteArray &path) const
    {
        QList<FaultServer::Request> found;
        for (const FaultServer::Request &request : m_server.requests()) {
            if (request.path == path)
                found.append(request);
        }
        return found;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        m_checker = std::make_unique<PdfChecker>(QStringLiteral(FOLIONEXUS_PDFCHECK_EXE));
    }

    void init()
    {
        m_queue = std::make_unique<QueueFixture>(m_server);
        m_queue->scheduler()->options().pdfChecker = m_checker.get();
    }
    void cleanup() { m_queue.reset(); }

    void verdicts_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<State>("state");
        for (int method : {1, 2}) {
            for (const fntest::PdfCase &pdf : fntest::pdfCases())
                QTest::newRow(qPrintable(QStringLiteral("method %1, %2").arg(method).arg(pdf.name)))
                    << method << pdf.bytes << pdf.state;
        }
    }
    // Every damaged copy arrives in full as far as its Content-Length goes: only the check tells.
    void verdicts()
    {
        QFETCH(int, method);
        QFETCH(QByteArray, bytes);
        QFETCH(State, state);
        m_server.setReply(QStringLiteral("/p.pdf"), paper(bytes));
        m_queue->use(method);
        const RowId id = m_queue->addRow(QStringLiteral("/p.pdf"), QStringLiteral("paper"));
        m_queue->runToEnd(30000);
        QVERIFY(PartFile::waitForDiskWork(5000));
        const DownloadRow &row = m_queue->row(id);
        QCOMPARE(row.pdf.state, state);
        const QList<FaultServer::Request> asked = requestsFor("/p.pdf");
        if (state == State::Damaged) {
            QCOMPARE(row.state, RowState::Failed);
            QCOMPARE(row.reason.kind, Kind::PdfDamaged);
            QCOMPARE(reasonText(row.reason), QStringLiteral("PDF damaged: ") + pdfVerdictCause(row.pdf));
            // Fetched once more, whole: no range of the first copy's bytes is asked for.
            QCOMPARE(asked.size(), 2);
            QVERIFY(!asked.at(1).headers.contains("range"));
            QVERIFY(m_queue->files().isEmpty()); // neither the name nor a temporary file
        } else {
            QCOMPARE(row.state, RowState::Done);
            QCOMPARE(asked.size(), 1);
            QCOMPARE(m_queue->files(), QStringList{QStringLiteral("paper.pdf")});
            QCOMPARE(fntest::readFile(m_queue->folder() + QStringLiteral("paper.pdf")), bytes);
            QVERIFY(!rowtext::pdfNote(row.pdf).isEmpty());
        }
    }

    void secondCopyWhole_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("method 1") << 1;
        QTest::newRow("method 2") << 2;
    }
    // The usual damage is a transfer cut on the way: the copy fetched again is the paper.
    void secondCopyWhole()
    {
        QFETCH(int, method);
        const QByteArray whole = fntest::TestPdf{}.bytes();
        m_server.setReplies(QStringLiteral("/again.pdf"),
                            {paper(whole.left(whole.size() / 2)), paper(whole)});
        m_queue->use(method);
        const RowId id = m_queue->addRow(QStringLiteral("/again.pdf"), QStringLiteral("again"));
        m_queue->runToEnd(30000);
        const DownloadRow &row = m_queue->row(id);
        QCOMPARE(row.state, RowState::Done);
        QCOMPARE(row.pdf.state, State::Whole);
        QCOMPARE(row.pdf.pages, 1);
        const QList<FaultServer::Request> asked = requestsFor("/again.pdf");
        QCOMPARE(asked.size(), 2);
        QVERIFY(!asked.at(1).headers.contains("range"));
        QVERIFY(!asked.at(1).headers.contains("if-range"));
        QCOMPARE(fntest::readFile(m_queue->folder() + QStringLiteral("again.pdf")), whole);
        QCOMPARE(row.downloaded, qint64(whole.size()));
    }

    // A copy put together from a kept part and the rest asked for with a range is checked as any other:
    // damaged, it is dropped with its kept part and the copy fetched again asks for no range.
    void aResumedCopyIsChecked()
    {
        QFETCH(int, method);
        const QByteArray whole = fntest::TestPdf{}.bytes();
        const QByteArray cut = whole.chopped(40); // announced whole: only the check tells
        Reply first = paper(cut);
        first.closeAfter = cut.size() / 2;
        m_server.setReplies(QStringLiteral("/kept.pdf"), {first, paper(cut), paper(whole)});
        m_queue->scheduler()->options().retries = 1;
        m_queue->use(method);
        const RowId id = m_queue->addRow(QStringLiteral("/kept.pdf"), QStringLiteral("kept"));
        m_queue->runToEnd(30000);
        const DownloadRow &row = m_queue->row(id);
        QCOMPARE(row.state, RowState::Done);
        QCOMPARE(row.pdf.state, State::Whole);
        const QList<FaultServer::Request> asked = requestsFor("/kept.pdf");
        QCOMPARE(asked.size(), 3);
        QVERIFY(asked.at(1).headers.contains("range"));
        QVERIFY(!asked.at(2).headers.contains("range"));
        QCOMPARE(fntest::readFile(m_queue->folder() + QStringLiteral("kept.pdf")), whole);
        QCOMPARE(m_queue->files(), QStringList{QStringLiteral("kept.pdf")});
    }
    void aResumedCopyIsChecked_data() { secondCopyWhole_data(); }

    // Files that are no PDF are not the check's business, and a missing checker judges nothing damaged.
    void notChecked()
    {
        Reply text;
        text.contentType = "application/octet-stream";
        text.body = QByteArray(5000, 'x');
        m_server.setReply(QStringLiteral("/data.bin"), text);
        const QByteArray cut = fntest::TestPdf{}.bytes().chopped(40);
        m_server.setReply(QStringLiteral("/cut.pdf"), paper(cut));
        PdfChecker missing(m_queue->root() + QStringLiteral("no-such-checker"));
        m_queue->scheduler()->options().pdfChecker = &missing;
        m_queue->use(2, 2);
        const RowId data =
            m_queue->addRow(QStringLiteral("/data.bin"), QStringLiteral("data"), QStringLiteral("bin"));
        const RowId pdf = m_queue->addRow(QStringLiteral("/cut.pdf"), QStringLiteral("cut"));
        m_queue->runToEnd(30000);
        QCOMPARE(m_queue->row(data).state, RowState::Done);
        QCOMPARE(m_queue->row(data).pdf, PdfVerdict());
        QCOMPARE(m_queue->row(pdf).state, RowState::Done);
        QCOMPARE(m_queue->row(pdf).pdf.state, State::NotChecked);
        QCOMPARE(m_queue->row(pdf).pdf.unchecked, PdfVerdict::Unchecked::CheckerFailed);
        QVERIFY(rowtext::pdfNote(m_queue->row(pdf).pdf).startsWith(QStringLiteral("PDF未检查：")));
    }
};

QTEST_MAIN(TestPdfQueue)
#include "tst_pdfqueue.moc"
