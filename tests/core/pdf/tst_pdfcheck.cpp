#define POINTERHOLDER_TRANSITION 4
#include "core/pdf/pdfchecker.h"
#include "testenv.h"
#include "testpdf.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <mutex>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>
#include <sys/stat.h>
#include <unistd.h>

using State = PdfVerdict::State;
using Damage = PdfVerdict::Damage;
using Unchecked = PdfVerdict::Unchecked;
Q_DECLARE_METATYPE(State)
Q_DECLARE_METATYPE(Damage)

namespace {

QByteArray cutAt(const QByteArray &bytes, const QByteArray &marker, int back = 0)
{
    const qsizetype at = bytes.lastIndexOf(marker);
    return bytes.left(at - back);
}

// A page whose contents name one stream thousands of times, each decoding to megabytes of nothing: the
// check decodes them all, for as long as it may.
QByteArray flateBomb()
{
    fntest::TestPdf pdf;
    pdf.content = QByteArray(16 * 1024 * 1024, '\0');
    pdf.contentRepeats = 4000;
    return pdf.bytes();
}

// A page dictionary holding millions of numbers: the library builds an object for each.
QByteArray memoryHog()
{
    fntest::TestPdf pdf;
    QByteArray bytes = pdf.bytes();
    QByteArray numbers;
    numbers.reserve(12 * 1000 * 1000);
    for (int i = 0; i < 6 * 1000 * 1000; ++i)
        numbers += "0 ";
    bytes.replace("/MediaBox [0 0 612 792]", "/MediaBox [0 0 612 792] /Hog [" + numbers + "]");
    return bytes; // its offsets are off now: the check repairs them first, and builds the array then
}

// A PDF made of the given objects after its catalogue (1), and with a page tree of its own (2) and a page
// (3) unless `tree` says the objects bring their own, with a cross-reference table that finds every one of
// them: whatever is wrong lies in the objects themselves.
QByteArray madeOf(const QList<QByteArray> &objects, bool tree = true)
{
    QList<QByteArray> all = {"<< /Type /Catalog /Pages 2 0 R >>"};
    if (tree)
        all += {"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>"};
    all += objects;
    QByteArray out = "%PDF-1.7\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < all.size(); ++i) {
        offsets.append(out.size());
        out += QByteArray::number(i + 1) + " 0 obj\n" + all.at(i) + "\nendobj\n";
    }
    const qsizetype xref = out.size();
    out += "xref\n0 " + QByteArray::number(all.size() + 1) + "\n0000000000 65535 f \n";
    for (const qsizetype offset : std::as_const(offsets))
        out += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    out += "trailer\n<< /Size " + QByteArray::number(all.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           QByteArray::number(xref) + "\n%%EOF\n";
    return out;
}

// The checking processes this test started, as the kernel sees them: pid, nice and policy of each.
QList<QList<int>> ourCheckers()
{
    QList<QList<int>> found;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (entry.toInt() <= 0 || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        // after the name: state ppid ... nice is the 19th field of the line, the policy the 41st
        if (text.contains("(folionexus-pdfc") && fields.value(1).toInt() == int(::getpid()))
            found.append({entry.toInt(), fields.value(16).toInt(), fields.value(38).toInt()});
    }
    return found;
}

// The voluntary context switches of a process so far (each time it waited for something).
int waitsOf(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("voluntary_ctxt_switches:"))
            return line.mid(line.indexOf(':') + 1).trimmed().toInt();
    }
    return -1;
}

// Verdicts of checks asked for without waiting, in the order they were asked for.
class LaterVerdicts
{
public:
    void ask(PdfChecker &checker, const QString &path)
    {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        const size_t index = m_verdicts.size();
        m_verdicts.emplace_back();
        m_cameAfterMs.push_back(-1);
        if (!m_clock.isValid())
            m_clock.start();
        checker.checkLater(fd, [this, index](const PdfVerdict &verdict) {
            std::lock_guard lock(m_mutex);
            m_verdicts[index] = verdict;
            m_cameAfterMs[index] = m_clock.elapsed();
            ++m_done;
            m_came.notify_all();
        });
    }
    // All of them, once they have come (within a minute).
    std::vector<PdfVerdict> all()
    {
        std::unique_lock lock(m_mutex);
        m_came.wait_for(lock, std::chrono::minutes(1), [this] { return m_done == m_verdicts.size(); });
        return m_done == m_verdicts.size() ? m_verdicts : std::vector<PdfVerdict>();
    }

    // When each came, in milliseconds after the first was asked for.
    qint64 cameAfterMs(size_t index)
    {
        std::lock_guard lock(m_mutex);
        return m_cameAfterMs[index];
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_came;
    QElapsedTimer m_clock;
    std::vector<qint64> m_cameAfterMs;
    std::vector<PdfVerdict> m_verdicts;
    size_t m_done = 0;
};

} // namespace

class TestPdfCheck : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_count = 0;

    QString fileWith(const QByteArray &bytes)
    {
        const QString path = m_dir.path() + QStringLiteral("/f%1.pdf").arg(++m_count);
        fntest::writeFile(path, bytes);
        return path;
    }

    static QString checker() { return QStringLiteral(FOLIONEXUS_PDFCHECK_EXE); }

    // Writes the whole test PDF encrypted with the given user password, as the PDF library does it.
    QString encrypted(const char *userPassword)
    {
        const QString plain = fileWith(fntest::TestPdf{}.bytes());
        const QString path = m_dir.path() + QStringLiteral("/enc%1.pdf").arg(++m_count);
        QPDF pdf;
        pdf.processFile(plain.toLocal8Bit().constData());
        QPDFWriter writer(pdf, path.toLocal8Bit().constData());
        writer.setR6EncryptionParameters(userPassword, "owner", true, true, true, true, true, true,
                                         qpdf_r3p_full, true);
        writer.write();
        return path;
    }

private Q_SLOTS:
    void verdicts_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<State>("state");
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<int>("pages");

        const QByteArray whole = fntest::TestPdf{}.bytes();
        fntest::TestPdf five;
        five.pages = 5;
        QTest::newRow("whole") << whole << State::Whole << Damage::None << 1;
        QTest::newRow("whole, five pages, plain streams") << [&] {
            five.compressed = false;
            return five.bytes();
        }() << State::Whole << Damage::None << 5;
        QTest::newRow("cut inside a page's stream")
            << cutAt(five.bytes(), "endstream", 200) << State::Damaged << Damage::CutShort << -1;
        QTest::newRow("cut before the cross-reference table")
            << cutAt(whole, "xref\n0 ") << State::Damaged << Damage::CutShort << -1;
        QTest::newRow("cut before the end-of-file marker")
            << cutAt(whole, "%%EOF") << State::Damaged << Damage::CutShort << 1;
        // An update written after the file's first end-of-file marker, cut inside its first object: the
        // marker stands before the last object, not after it.
        QTest::newRow("an update cut inside its first object")
            << whole + "6 0 obj\n<< /Length 20000 >>\nstream\n" + QByteArray(9000, 'x') << State::Damaged
            << Damage::CutShort << -1;
        fntest::TestPdf noMarker;
        noMarker.endMarker = false;
        QTest::newRow("no end-of-file marker") << noMarker.bytes() << State::Damaged << Damage::CutShort << 1;
        QTest::newRow("zeros after the header") << QByteArray("%PDF-1.5\n") + QByteArray(whole.size(), '\0')
                                                << State::Damaged << Damage::CannotOpen << -1;
        fntest::TestPdf shifted;
        shifted.xrefShift = 7;
        QTest::newRow("offsets wrong, objects whole")
            << shifted.bytes() << State::Repaired << Damage::None << 1;
        fntest::TestPdf missingContent;
        missingContent.missingContent = true;
        QTest::newRow("a content stream not in the file")
            << missingContent.bytes() << State::Damaged << Damage::MissingData << 1;
        fntest::TestPdf missingPage;
        missingPage.missingPage = true;
        QTest::newRow("a page not in the file")
            << missingPage.bytes() << State::Damaged << Damage::MissingData << 2;
        fntest::TestPdf loop;
        loop.pageLoop = true;
        QTest::newRow("a page tree that names itself")
            << loop.bytes() << State::Damaged << Damage::BadPageTree << -1;
        fntest::TestPdf garbled;
        garbled.badStream = true;
        QTest::newRow("a content stream that does not decode")
            << garbled.bytes() << State::Damaged << Damage::BadStream << 1;
        // Past the size that is read into memory, the file is read through its descriptor.
        const QByteArray large = fntest::wholePdf(17 * 1024 * 1024);
        QTest::newRow("large: whole") << large << State::Whole << Damage::None << 1;
        QTest::newRow("large: cut before the end-of-file marker")
            << cutAt(large, "%%EOF") << State::Damaged << Damage::CutShort << 1;
        QTest::newRow("large: cut inside its page's stream")
            << large.left(large.size() / 2) << State::Damaged << Damage::CutShort << -1;
        fntest::TestPdf largeShifted;
        largeShifted.compressed = false;
        largeShifted.contentBytes = 17 * 1024 * 1024;
        largeShifted.xrefShift = 7;
        QTest::newRow("large: offsets wrong, objects whole")
            << largeShifted.bytes() << State::Repaired << Damage::None << 1;
        QTest::newRow("a web page") << QByteArray("<html><body>Please log in</body></html>") << State::Damaged
                                    << Damage::NotPdf << -1;
        QTest::newRow("empty") << QByteArray() << State::Damaged << Damage::NotPdf << -1;
    }

    void verdicts()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(State, state);
        QFETCH(Damage, damage);
        QFETCH(int, pages);
        PdfChecker check(checker());
        const PdfVerdict verdict = check.checkFile(fileWith(bytes));
        QCOMPARE(verdict.state, state);
        QCOMPARE(verdict.damage, damage);
        QCOMPARE(verdict.unchecked, Unchecked::None);
        if (pages >= 0)
            QCOMPARE(verdict.pages, pages);
        QCOMPARE(verdict.isPaper(), state != State::Damaged);
        if (state == State::Damaged)
            QVERIFY(!pdfVerdictCause(verdict).isEmpty());
    }

    void encryptedFiles()
    {
        PdfChecker check(checker());
        // With an empty user password a reader opens it without asking: its pages can be counted.
        const PdfVerdict open = check.checkFile(encrypted(""));
        QCOMPARE(open.state, State::Encrypted);
        QCOMPARE(open.pages, 1);
        QVERIFY(open.isPaper());
        const PdfVerdict locked = check.checkFile(encrypted("secret"));
        QCOMPARE(locked.state, State::Encrypted);
        QCOMPARE(locked.pages, -1);
        QVERIFY(locked.isPaper());
    }

    // Files that others wrote, with what readers make of them.
    void realFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<State>("state");
        QTest::addColumn<int>("pages");
        QTest::newRow("XeTeX") << "pypdf_crazyones.pdf" << State::Whole << 1;
        QTest::newRow("pdfTeX with an outline") << "pypdf_pdflatex-outline.pdf" << State::Whole << 4;
        QTest::newRow("RC4, empty password") << "pypdf_r2-empty-password.pdf" << State::Encrypted << 1;
        QTest::newRow("AES-256, empty password") << "pypdf_r6-empty-password.pdf" << State::Encrypted << 1;
        QTest::newRow("PDF 2.0") << "pdfassoc_Simple_PDF_2.0_file.pdf" << State::Whole << 1;
        QTest::newRow("header not at the start")
            << "pdfassoc_PDF_2.0_with_offset_start.pdf" << State::Whole << 1;
        QTest::newRow("incremental update")
            << "pdfassoc_PDF_2.0_via_incremental_save.pdf" << State::Whole << 1;
        QTest::newRow("linearized") << "qpdf_lin1.pdf" << State::Whole << 30;
        QTest::newRow("object streams") << "qpdf_c-object-streams.pdf" << State::Whole << 30;
        QTest::newRow("startxref damaged") << "qpdf_bad2.pdf" << State::Repaired << 1;
        QTest::newRow("table keyword damaged") << "qpdf_bad3.pdf" << State::Repaired << 1;
        QTest::newRow("no trailer") << "qpdf_bad7.pdf" << State::Damaged << -1;
    }

    void realFiles()
    {
        QFETCH(QString, name);
        QFETCH(State, state);
        QFETCH(int, pages);
        PdfChecker check(checker());
        const PdfVerdict verdict =
            check.checkFile(QStringLiteral(FN_TEST_DATA_DIR "/realworld/pdfs/") + name);
        QCOMPARE(verdict.state, state);
        if (pages >= 0)
            QCOMPARE(verdict.pages, pages);
    }

    // A file that would take the check too long or too much memory is not judged damaged: it is not
    // checked, the program goes on, and the next file is checked as usual.
    void hostileFilesAreNotCheckedAndCostNoMore()
    {
        const QString whole = fileWith(fntest::TestPdf{}.bytes());
        PdfChecker::Limits quick;
        quick.timeMs = 300;
        quick.processes = 1;
        PdfChecker impatient(checker(), quick);
        const PdfVerdict slow = impatient.checkFile(fileWith(flateBomb()));
        QCOMPARE(slow.state, State::NotChecked);
        QCOMPARE(slow.unchecked, Unchecked::TimedOut);
        QVERIFY(slow.isPaper());
        QCOMPARE(impatient.checkFile(whole).state, State::Whole);

        PdfChecker::Limits small;
        small.memoryMiB = 64;
        small.processes = 1;
        PdfChecker frugal(checker(), small);
        const PdfVerdict greedy = frugal.checkFile(fileWith(memoryHog()));
        QCOMPARE(greedy.state, State::NotChecked);
        QCOMPARE(greedy.unchecked, Unchecked::OutOfMemory);
        QCOMPARE(frugal.checkFile(whole).state, State::Whole);
    }

    // Files made to trouble a reader: each ends in a verdict at once (far within the time limit), the
    // checking process survives it, and the next file is checked as usual.
    void hostileStructures_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<State>("state");
        const QByteArray stream = "\nstream\nBT ET     \nendstream";
        QTest::newRow("references in a loop") << madeOf({"5 0 R", "4 0 R"}) << State::Damaged;
        QTest::newRow("page tree nodes naming each other")
            << madeOf({"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                       "<< /Type /Pages /Parent 2 0 R /Kids [2 0 R] /Count 1 >>"},
                      false)
            << State::Damaged;
        QTest::newRow("a stream claiming four gigabytes")
            << madeOf({"<< /Length 4000000000 >>" + stream}) << State::Repaired;
        QTest::newRow("a stream length past any number")
            << madeOf({"<< /Length 99999999999999999999999 >>" + stream}) << State::Damaged;
        QTest::newRow("arrays nested 200000 deep")
            << madeOf({"<< /Length 10 /Deep " + QByteArray(200000, '[') + QByteArray(200000, ']') + " >>" +
                       stream})
            << State::Damaged;
        QTest::newRow("dictionaries nested 100000 deep")
            << madeOf({"<< /Length 10 /D " + QByteArray("<< /A ").repeated(100000) + "1" +
                       QByteArray(" >>").repeated(100000) + " >>" + stream})
            << State::Damaged;
    }
    void hostileStructures()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(State, state);
        PdfChecker::Limits one;
        one.processes = 1;
        PdfChecker check(checker(), one);
        QElapsedTimer took;
        took.start();
        const PdfVerdict verdict = check.checkFile(fileWith(bytes));
        QVERIFY2(took.elapsed() < 10000, qPrintable(QString::number(took.elapsed())));
        QCOMPARE(verdict.state, state);
        QCOMPARE(verdict.unchecked, Unchecked::None);
        QCOMPARE(check.checkFile(fileWith(fntest::TestPdf{}.bytes())).state, State::Whole);
    }

    // The checking processes do not preempt the transfers, and the time limit counts their own CPU time: a
    // file that waits for the processor is not cut short, but is not waited for without end either.
    void aCheckThatWaitsForTheProcessorIsNotCutShort()
    {
        const QString whole = fileWith(fntest::TestPdf{}.bytes());
        PdfChecker::Limits quick;
        quick.timeMs = 300;
        quick.processes = 1;
        PdfChecker check(checker(), quick);
        QCOMPARE(check.checkFile(whole).state, State::Whole);
        const QList<QList<int>> checkers = ourCheckers();
        QCOMPARE(checkers.size(), 1);
        const pid_t pid = checkers[0][0];
        QCOMPARE(checkers[0][2], SCHED_BATCH); // no wake-up preemption of the transfers

        ::kill(pid, SIGSTOP); // as if the machine had no time for it
        auto waited = std::async(std::launch::async, [&] { return check.checkFile(whole); });
        QThread::msleep(500);
        ::kill(pid, SIGCONT);
        const PdfVerdict late = waited.get();
        QCOMPARE(late.state, State::Whole);
        QCOMPARE(late.unchecked, Unchecked::None);

        ::kill(pid, SIGSTOP); // and never any time: given up on at three times the limit
        QElapsedTimer took;
        took.start();
        const PdfVerdict never = check.checkFile(whole);
        QCOMPARE(never.unchecked, Unchecked::TimedOut);
        QVERIFY2(took.elapsed() >= 800 && took.elapsed() < 5000, qPrintable(QString::number(took.elapsed())));
        QCOMPARE(check.checkFile(whole).state, State::Whole); // in a fresh process
    }

    // One checking process checks file after file: each is judged on its own bytes, never on what the
    // file before it left in the process's memory.
    void eachFileIsJudgedOnItsOwnBytes()
    {
        PdfChecker::Limits one;
        one.processes = 1;
        PdfChecker check(checker(), one);
        const QByteArray whole = fntest::wholePdf(64 * 1024);
        QCOMPARE(check.checkFile(fileWith(whole)).state, State::Whole);
        QByteArray zeros = whole;
        zeros.replace(9, zeros.size() - 9, QByteArray(zeros.size() - 9, '\0'));
        const PdfVerdict blank = check.checkFile(fileWith(zeros));
        QCOMPARE(blank.state, State::Damaged);
        QCOMPARE(blank.damage, Damage::CannotOpen);
        QByteArray noTail = whole;
        noTail.replace(noTail.size() - 2000, 2000, QByteArray(2000, ' '));
        QCOMPARE(check.checkFile(fileWith(noTail)).state, State::Damaged);
        QCOMPARE(check.checkFile(fileWith(whole)).state, State::Whole);
    }

    void aMissingCheckerIsAVerdictNotACrash()
    {
        PdfChecker check(m_dir.path() + QStringLiteral("/no-such-checker"));
        const PdfVerdict verdict = check.checkFile(fileWith(fntest::TestPdf{}.bytes()));
        QCOMPARE(verdict.state, State::NotChecked);
        QCOMPARE(verdict.unchecked, Unchecked::CheckerFailed);
        QVERIFY(verdict.detail.contains(QStringLiteral("no-such-checker")));
        QCOMPARE(check.checkFile(m_dir.path() + QStringLiteral("/absent.pdf")).unchecked,
                 Unchecked::Unreadable);
    }

    // What stands at a listed name may have become a pipe since the folder was listed: it is no file to
    // check, and the check does not wait for a writer that never comes.
    void aPipeIsNotWaitedFor()
    {
        const QByteArray pipe = QFile::encodeName(m_dir.path() + QStringLiteral("/pipe.pdf"));
        QCOMPARE(::mkfifo(pipe.constData(), 0600), 0);
        PdfChecker check(checker());
        auto verdict = std::async(std::launch::async,
                                  [&check, &pipe] { return check.checkFile(QFile::decodeName(pipe)); });
        if (verdict.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            const int writer = ::open(pipe.constData(), O_WRONLY | O_NONBLOCK); // lets the check go
            verdict.wait();
            ::close(writer);
            QFAIL("the check waited for the pipe");
        }
        QCOMPARE(verdict.get().unchecked, Unchecked::Unreadable);
    }

    // Workers check at once; each gets the verdict on its own file.
    void checksFromManyThreadsAtOnce()
    {
        PdfChecker check(checker());
        fntest::TestPdf damaged;
        damaged.missingPage = true;
        QList<QString> files;
        for (int i = 0; i < 12; ++i)
            files += fileWith(i % 3 == 0 ? damaged.bytes() : fntest::wholePdf(3000 + i * 100));
        std::vector<std::future<PdfVerdict>> futures;
        for (const QString &file : files)
            futures.push_back(
                std::async(std::launch::async, [&check, file] { return check.checkFile(file); }));
        for (int i = 0; i < files.size(); ++i)
            QCOMPARE(futures[size_t(i)].get().state, i % 3 == 0 ? State::Damaged : State::Whole);
    }

    // Files that come together go to the checking process together: it reads them without waiting for
    // each, every file still gets the verdict on its own bytes, and a file that runs out of time costs
    // the files after it nothing but a fresh process.
    void filesThatComeTogether()
    {
        PdfChecker::Limits quick;
        quick.timeMs = 300;
        quick.processes = 1;
        PdfChecker check(checker(), quick);
        QCOMPARE(check.checkFile(fileWith(fntest::TestPdf{}.bytes())).state, State::Whole);
        const QList<QList<int>> checkers = ourCheckers();
        QCOMPARE(checkers.size(), 1);
        fntest::TestPdf damaged;
        damaged.missingPage = true;
        LaterVerdicts many;
        for (int i = 0; i < 40; ++i)
            many.ask(check, fileWith(i % 5 == 4 ? damaged.bytes() : fntest::wholePdf(3000 + i * 100)));
        std::vector<PdfVerdict> verdicts = many.all();
        QCOMPARE(verdicts.size(), size_t(40));
        for (size_t i = 0; i < verdicts.size(); ++i)
            QCOMPARE(verdicts[i].state, i % 5 == 4 ? State::Damaged : State::Whole);

        // Files that come while the process is busy (here: stopped) are all read when it goes on, each
        // without waiting for the next.
        const pid_t pid = checkers[0][0];
        ::kill(pid, SIGSTOP);
        LaterVerdicts queued;
        for (int i = 0; i < 10; ++i)
            queued.ask(check, fileWith(fntest::wholePdf(3000 + i * 100)));
        QThread::msleep(100);
        const int waitsBefore = waitsOf(pid);
        ::kill(pid, SIGCONT);
        verdicts = queued.all();
        QCOMPARE(verdicts.size(), size_t(10));
        for (const PdfVerdict &verdict : verdicts)
            QCOMPARE(verdict.state, State::Whole);
        const int waits = waitsOf(pid) - waitsBefore;
        QVERIFY2(waits >= 0 && waits <= 3, qPrintable(QString::number(waits)));

        LaterVerdicts withBomb;
        const QString whole = fileWith(fntest::TestPdf{}.bytes());
        const QString bomb = fileWith(flateBomb());
        for (const QString &file : {whole, whole, bomb, whole, fileWith(damaged.bytes()), whole})
            withBomb.ask(check, file);
        verdicts = withBomb.all();
        QCOMPARE(verdicts.size(), size_t(6));
        const QList<State> states = {State::Whole, State::Whole,   State::NotChecked,
                                     State::Whole, State::Damaged, State::Whole};
        for (size_t i = 0; i < verdicts.size(); ++i)
            QCOMPARE(verdicts[i].state, states[qsizetype(i)]);
        QCOMPARE(verdicts[2].unchecked, Unchecked::TimedOut);
    }

    // Files sent to a process behind one that takes long do not wait for it: they are checked by the
    // other process meanwhile.
    void filesBehindASlowOneGoElsewhere()
    {
        PdfChecker::Limits slow;
        slow.timeMs = 6000;
        slow.processes = 2;
        PdfChecker check(checker(), slow);
        const QString whole = fileWith(fntest::TestPdf{}.bytes());
        LaterVerdicts verdicts;
        verdicts.ask(check, fileWith(flateBomb()));
        for (int i = 0; i < 8; ++i)
            verdicts.ask(check, whole);
        const std::vector<PdfVerdict> all = verdicts.all();
        QCOMPARE(all.size(), size_t(9));
        QCOMPARE(all[0].unchecked, Unchecked::TimedOut);
        for (size_t i = 1; i < all.size(); ++i) {
            QCOMPARE(all[i].state, State::Whole);
            QVERIFY2(verdicts.cameAfterMs(i) < 4000, qPrintable(QString::number(verdicts.cameAfterMs(i))));
        }
    }

    // A checking process that ends while it holds files (killed from outside) leaves none of them
    // unjudged: they are checked again in a fresh process.
    void aCheckerKilledWithFilesInHand()
    {
        PdfChecker::Limits one;
        one.processes = 1;
        PdfChecker check(checker(), one);
        const QString whole = fileWith(fntest::TestPdf{}.bytes());
        QCOMPARE(check.checkFile(whole).state, State::Whole);
        const QList<QList<int>> checkers = ourCheckers();
        QCOMPARE(checkers.size(), 1);
        ::kill(checkers[0][0], SIGSTOP);
        LaterVerdicts held;
        for (int i = 0; i < 10; ++i)
            held.ask(check, whole);
        QThread::msleep(100); // sent to the stopped process
        ::kill(checkers[0][0], SIGKILL);
        const std::vector<PdfVerdict> verdicts = held.all();
        QCOMPARE(verdicts.size(), size_t(10));
        for (const PdfVerdict &verdict : verdicts) {
            QCOMPARE(verdict.state, State::Whole);
            QCOMPARE(verdict.unchecked, Unchecked::None);
        }
        QCOMPARE(check.tally().files, qint64(11));
    }

    void verdictWords()
    {
        for (State state :
             {State::Whole, State::Repaired, State::Encrypted, State::Damaged, State::NotChecked})
            QCOMPARE(pdfStateFromWord(pdfStateWord(state)), state);
        QCOMPARE(pdfStateWord(State::Damaged), QStringLiteral("damaged"));
        PdfVerdict cut;
        cut.state = State::Damaged;
        cut.damage = Damage::CutShort;
        QCOMPARE(pdfVerdictCause(cut), QStringLiteral("cut short: no end-of-file marker"));
    }
};

FN_TEST_MAIN_CORE(TestPdfCheck)
#include "tst_pdfcheck.moc"
