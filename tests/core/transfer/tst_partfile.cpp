#include "core/transfer/partfile.h"
#include "testenv.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <vector>

class TestPartFile : public QObject
{
    Q_OBJECT

    static QStringList entries(const QString &folder)
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }

private Q_SLOTS:
    // Files that finish together share their flushes, and each one still reaches its name whole; a
    // file that finishes alone is flushed on its own.
    void filesThatFinishTogetherShareOneFlush()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        constexpr int count = 40;
        std::vector<std::unique_ptr<PartFile>> files;
        QObject receiver;
        int moved = 0;
        // A window makes the group certain however fast this disk flushes, and wide enough that a loaded
        // machine still writes all forty inside it.
        PartFile::setGroupWindow(3000);
        const qint64 before = PartFile::flushCount();
        for (int i = 0; i < count; ++i) {
            auto file = std::make_unique<PartFile>();
            QVERIFY(file->open(dir.path()));
            QVERIFY(file->write(QByteArray(10000 + i, char('A' + i % 26))));
            PartFile *raw = file.get();
            raw->flush(&receiver, [raw, i, &moved](bool ok, const QString &error) {
                QVERIFY2(ok, qPrintable(error));
                QVERIFY(raw->moveTo(QStringLiteral("p%1.pdf").arg(i, 2, 10, QChar(u'0')), false).ok);
                ++moved;
            });
            files.push_back(std::move(file));
        }
        QTRY_COMPARE_WITH_TIMEOUT(moved, count, 20000);
        const qint64 flushes = PartFile::flushCount() - before;
        QVERIFY2(flushes >= 1 && flushes <= count / 8, qPrintable(QString::number(flushes)));
        const QStringList names = entries(dir.path());
        QCOMPARE(names.size(), count);
        for (int i = 0; i < count; ++i) {
            QCOMPARE(names.at(i), QStringLiteral("p%1.pdf").arg(i, 2, 10, QChar(u'0')));
            QCOMPARE(fntest::readFile(dir.path() + u'/' + names.at(i)),
                     QByteArray(10000 + i, char('A' + i % 26)));
        }

        PartFile::setGroupWindow(0);
        PartFile alone;
        QVERIFY(alone.open(dir.path()));
        QVERIFY(alone.write("%PDF-1.4 alone"));
        const qint64 beforeAlone = PartFile::flushCount();
        bool done = false;
        alone.flush(&receiver, [&done](bool ok, const QString &) { done = ok; });
        QTRY_VERIFY(done);
        QCOMPARE(PartFile::flushCount() - beforeAlone, 1);
    }

    // The move after the flush happens off the event loop's thread: the name gets the whole file, a taken
    // name is left alone with the data kept for another, and a file given up meanwhile never leaves part
    // of itself behind.
    void aFlushedFileIsMovedInPlaceOnTheWorker()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray body(300000, 'b');
        QObject receiver;
        std::optional<PartFile::MoveResult> result;
        auto take = [&result](const PartFile::MoveResult &moved) { result = moved; };

        PartFile part;
        QVERIFY(part.open(dir.path()));
        QVERIFY(part.write(body));
        part.flushAndMove(QStringLiteral("paper.pdf"), false, &receiver, take);
        QTRY_VERIFY(result);
        QVERIFY2(result->ok, qPrintable(result->error));
        QCOMPARE(entries(dir.path()), QStringList{"paper.pdf"});
        QCOMPARE(fntest::readFile(dir.filePath(QStringLiteral("paper.pdf"))), body);
        QCOMPARE(result->identity.size, body.size());
        QVERIFY(part.temporaryName().isEmpty());

        result.reset();
        PartFile second;
        QVERIFY(second.open(dir.path()));
        QVERIFY(second.write("%PDF-1.4 second"));
        second.flushAndMove(QStringLiteral("paper.pdf"), false, &receiver, take);
        QTRY_VERIFY(result);
        QVERIFY(!result->ok);
        QVERIFY(result->nameTaken);
        QCOMPARE(fntest::readFile(dir.filePath(QStringLiteral("paper.pdf"))), body);
        QVERIFY(second.moveTo(QStringLiteral("paper (2).pdf"), false).ok);
        QCOMPARE(fntest::readFile(dir.filePath(QStringLiteral("paper (2).pdf"))),
                 QByteArray("%PDF-1.4 second"));

        result.reset();
        PartFile::setGroupWindow(50);
        {
            PartFile gone;
            QVERIFY(gone.open(dir.path()));
            QVERIFY(gone.write(body));
            gone.flushAndMove(QStringLiteral("gone.pdf"), false, &receiver, take);
        }
        QTRY_VERIFY(result);
        PartFile::setGroupWindow(0);
        QStringList expected{"paper (2).pdf", "paper.pdf"};
        if (result->ok)
            expected.prepend(QStringLiteral("gone.pdf"));
        QCOMPARE(entries(dir.path()), expected);
        if (result->ok)
            QCOMPARE(fntest::readFile(dir.filePath(QStringLiteral("gone.pdf"))), body);
    }

    // Read buffers come back once written, but never while anyone still holds their bytes, and what a
    // reused buffer held before never reaches the next file.
    void writtenBuffersAreReusedOnlyWhenNobodyHoldsThem()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        constexpr qsizetype piece = 256 * 1024;
        PartFile file;
        QVERIFY(file.open(dir.path()));
        QByteArray kept = PartFile::buffer(piece);
        kept.fill('k');
        const char *keptBytes = kept.constData();
        QVERIFY(file.write(kept));
        QTRY_COMPARE(file.backlog(), 0);
        QByteArray expected = kept;
        QSet<const char *> taken;
        QList<QByteArray> held;
        for (int i = 0; i < 4; ++i) {
            held.append(PartFile::buffer(piece));
            taken.insert(held.last().constData());
        }
        QVERIFY(!taken.contains(keptBytes)); // "kept" still shares it
        QCOMPARE(kept, QByteArray(piece, 'k'));

        held.clear();
        kept = QByteArray();
        expected.detach();
        QByteArray next = PartFile::buffer(piece / 2);
        QCOMPARE(next.size(), piece / 2);
        QVERIFY(next.constData() == keptBytes); // free again: no fresh memory for this read
        next.fill('n');
        QVERIFY(file.write(next));
        next = QByteArray();
        expected += QByteArray(piece / 2, 'n');
        QObject receiver;
        bool flushed = false;
        file.flush(&receiver, [&flushed](bool ok, const QString &) { flushed = ok; });
        QTRY_VERIFY(flushed);
        QVERIFY(file.moveTo(QStringLiteral("whole.pdf"), false).ok);
        QCOMPARE(fntest::readFile(dir.path() + QStringLiteral("/whole.pdf")), expected);
    }

    // Temporary files are made, filled and removed on the workers in the order they were asked for: a
    // file given up before its worker made it leaves nothing, one given up while it is written leaves
    // nothing, and the others reach their names whole.
    void temporaryFilesAreMadeAndRemovedInOrderOffTheEventLoop()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QObject receiver;
        int moved = 0;
        std::vector<std::unique_ptr<PartFile>> kept;
        for (int i = 0; i < 30; ++i) {
            auto file = std::make_unique<PartFile>();
            QVERIFY(file->open(dir.path()));
            QVERIFY(file->write(QByteArray(70000, char('a' + i % 26))));
            if (i % 3 == 0) {
                file->discard();
                continue;
            }
            if (i % 3 == 1) {
                file.reset(); // the transfer is gone
                continue;
            }
            file->flushAndMove(QStringLiteral("p%1.pdf").arg(i, 2, 10, QChar(u'0')), false, &receiver,
                               [&moved](const PartFile::MoveResult &result) { moved += result.ok ? 1 : 0; });
            kept.push_back(std::move(file));
        }
        QTRY_COMPARE(moved, 10);
        QVERIFY(PartFile::waitForDiskWork(20000));
        QStringList expected;
        for (int i = 2; i < 30; i += 3)
            expected.append(QStringLiteral("p%1.pdf").arg(i, 2, 10, QChar(u'0')));
        QCOMPARE(entries(dir.path()), expected);
        for (int i = 2; i < 30; i += 3)
            QCOMPARE(fntest::readFile(dir.filePath(expected.at(i / 3))),
                     QByteArray(70000, char('a' + i % 26)));
    }

    // A process killed while its files wait on their group's flush leaves no file under a paper's name,
    // only temporary files, and the next run's clean-up removes every one of them.
    void aKillDuringAGroupLeavesOnlyTemporaryFiles()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QProcess probe;
        probe.start(QStringLiteral(PARTFILE_PROBE),
                    {dir.path(), QStringLiteral("25"), QStringLiteral("60000")});
        QVERIFY(probe.waitForStarted(10000));
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += probe.readAllStandardOutput()).contains("flushing\n"), 20000);
        probe.kill();
        QVERIFY(probe.waitForFinished(10000));
        QCOMPARE(said, QByteArray("flushing\n"));
        const QStringList left = entries(dir.path());
        QCOMPARE(left.size(), 25);
        for (const QString &name : left)
            QVERIFY2(name.startsWith(QLatin1String(PartFile::Prefix)), qPrintable(name));
        QCOMPARE(RemoveDeadPartFiles(dir.path(), QDateTime::currentSecsSinceEpoch() + 1), 25);
        QVERIFY(entries(dir.path()).isEmpty());

        // The same files without a window all reach their names.
        QProcess whole;
        whole.start(QStringLiteral(PARTFILE_PROBE), {dir.path(), QStringLiteral("25"), QStringLiteral("0")});
        QVERIFY(whole.waitForFinished(20000));
        QCOMPARE(whole.exitCode(), 0);
        QCOMPARE(whole.readAllStandardOutput().count(".pdf\n"), 25);
        QCOMPARE(entries(dir.path()).size(), 25);
        for (const QString &name : entries(dir.path()))
            QVERIFY2(name.startsWith(u"paper"), qPrintable(name));
    }
};

FN_TEST_MAIN_CORE(TestPartFile)
#include "tst_partfile.moc"
