#include "core/rows/targetfile.h"
#include "core/transfer/partfile.h"
#include "partfileseam.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <cerrno>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

class TestPartFile : public QObject
{
    Q_OBJECT

    static QStringList entries(const QString &folder)
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }
    static QByteArray sha256(const QByteArray &bytes)
    {
        return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
    }

private Q_SLOTS:
    // A test that failed while its flushes waited for a long group window leaves none to the next.
    void cleanup() { PartFileSeam::setGroupWindow(0); }

    // Left as it is (first, before any test sets a window), a burst of small files costs a few flushes,
    // not one each, and every file still gets its name whole and only after its flush. (The files are
    // small enough that their buffers are not kept for reuse, which a later test counts on.)
    void aBurstOfSmallFilesSharesFewFlushes()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        constexpr int count = 60;
        std::vector<std::unique_ptr<PartFile>> files;
        QObject receiver;
        int moved = 0;
        const qint64 before = PartFile::flushCount();
        for (int i = 0; i < count; ++i) {
            files.push_back(std::make_unique<PartFile>());
            QVERIFY(files.back()->open(dir.path()));
            QVERIFY(files.back()->write(QByteArray(60000, char('a' + i % 26))));
            files.back()->flushAndMove(QStringLiteral("p%1.pdf").arg(i, 2, 10, QChar(u'0')), false, &receiver,
                                       [&moved](const PartFile::MoveResult &result) {
                                           QVERIFY2(result.ok, qPrintable(result.error));
                                           ++moved;
                                       });
        }
        QTRY_COMPARE_WITH_TIMEOUT(moved, count, 20000);
        const qint64 flushes = PartFile::flushCount() - before;
        QVERIFY2(flushes >= 1 && flushes <= count / 6, qPrintable(QString::number(flushes)));
        QCOMPARE(entries(dir.path()).size(), count);
        QCOMPARE(fntest::readFile(dir.filePath(QStringLiteral("p59.pdf"))), QByteArray(60000, 'a' + 59 % 26));
    }

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
        PartFileSeam::setGroupWindow(3000);
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

        PartFileSeam::setGroupWindow(0);
        PartFile alone;
        QVERIFY(alone.open(dir.path()));
        QVERIFY(alone.write("%PDF-1.4 alone"));
        const qint64 beforeAlone = PartFile::flushCount();
        bool done = false;
        alone.flush(&receiver, [&done](bool ok, const QString &) { done = ok; });
        QTRY_VERIFY(done);
        QCOMPARE(PartFile::flushCount() - beforeAlone, 1);
    }

    // When nothing more is coming, a file waiting for others to share its flush is flushed at once.
    void aFileWaitsForItsGroupUntilNothingMoreIsComing()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QObject receiver;
        PartFileSeam::setGroupWindow(60000);
        PartFile last;
        QVERIFY(last.open(dir.path()));
        QVERIFY(last.write("%PDF-1.4 last"));
        bool done = false;
        last.flush(&receiver, [&done](bool ok, const QString &) { done = ok; });
        QTest::qWait(300);
        QVERIFY(!done);
        PartFile::flushSoon();
        // A flush of the whole file system: on a disk busy with other programs' writes it takes seconds.
        QTRY_VERIFY_WITH_TIMEOUT(done, 30000);
        PartFileSeam::setGroupWindow(0);
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
        QTRY_VERIFY_WITH_TIMEOUT(result, 30000);
        QVERIFY2(result->ok, qPrintable(result->error));
        QCOMPARE(entries(dir.path()), QStringList{"paper.pdf"});
        QCOMPARE(fntest::readFile(dir.filePath(QStringLiteral("paper.pdf"))), body);
        QCOMPARE(result->identity.size, body.size());
        QCOMPARE(result->sha256, sha256(body));
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
        PartFileSeam::setGroupWindow(50);
        {
            PartFile gone;
            QVERIFY(gone.open(dir.path()));
            QVERIFY(gone.write(body));
            gone.flushAndMove(QStringLiteral("gone.pdf"), false, &receiver, take);
        }
        QTRY_VERIFY(result);
        PartFileSeam::setGroupWindow(0);
        QStringList expected{"paper (2).pdf", "paper.pdf"};
        if (result->ok)
            expected.prepend(QStringLiteral("gone.pdf"));
        QCOMPARE(entries(dir.path()), expected);
        if (result->ok)
            QCOMPARE(fntest::readFile(dir.filePath(QStringLiteral("gone.pdf"))), body);
    }

    // A move asked for can be called off until it begins: nothing gets the name and the temporary file
    // goes; a part given up meanwhile calls its move off too. Once the file has its name, it stays.
    void aMoveIsCalledOffUntilItBegins()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QObject receiver;
        PartFileSeam::setGroupWindow(600000); // the flush waits until the test lets it go
        std::optional<PartFile::MoveResult> off, placed;
        PartFile calledOff, kept, given;
        for (PartFile *part : {&calledOff, &kept, &given}) {
            QVERIFY(part->open(dir.path()));
            QVERIFY(part->write(QByteArray(5000, 'x')));
        }
        calledOff.flushAndMove(QStringLiteral("off.pdf"), false, &receiver,
                               [&off](const PartFile::MoveResult &r) { off = r; });
        kept.flushAndMove(QStringLiteral("kept.pdf"), false, &receiver,
                          [&placed](const PartFile::MoveResult &r) { placed = r; });
        given.flushAndMove(QStringLiteral("given.pdf"), false, &receiver,
                           [](const PartFile::MoveResult &) {});
        QVERIFY(calledOff.callOffMove());
        QVERIFY(calledOff.callOffMove()); // and stays called off
        given.discard();
        // Asked again while it has not gone: a busy machine may wake the flush too late for one hurry.
        QTRY_VERIFY_WITH_TIMEOUT((PartFile::flushSoon(), off && placed), 20000);
        PartFileSeam::setGroupWindow(0);
        QVERIFY(!off->ok && !off->nameTaken);
        QVERIFY2(placed->ok, qPrintable(placed->error));
        QVERIFY(!kept.callOffMove()); // too late: the file has its name
        QTRY_VERIFY(PartFile::waitForDiskWork(0));
        QCOMPARE(entries(dir.path()), QStringList{"kept.pdf"});
    }

    // A new copy takes the place of the earlier copy it names while that is still the very file; anything
    // else under the name (the file changed, another file, a link) leaves the name taken.
    void aMoveReplacesOnlyTheEarlierCopyItNames()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QObject receiver;
        const QString earlier = dir.filePath(QStringLiteral("paper.pdf"));
        fntest::writeFile(earlier, "the earlier copy");
        const FileIdentity identity = IdentityOf(earlier);
        fntest::writeFile(dir.filePath(QStringLiteral("changed.pdf")), "was one thing");
        const FileIdentity before = IdentityOf(dir.filePath(QStringLiteral("changed.pdf")));
        fntest::writeFile(dir.filePath(QStringLiteral("changed.pdf")), "and is another now");
        QVERIFY(QFile::link(earlier, dir.filePath(QStringLiteral("link.pdf"))));
        const QList<std::pair<QString, FileIdentity>> cases{{QStringLiteral("paper.pdf"), identity},
                                                            {QStringLiteral("changed.pdf"), before},
                                                            {QStringLiteral("link.pdf"), identity}};
        for (const auto &[name, named] : cases) {
            std::optional<PartFile::MoveResult> result;
            PartFile part;
            QVERIFY(part.open(dir.path()));
            QVERIFY(part.write("the new copy"));
            part.replaceOnly(name, named);
            part.flushAndMove(name, false, &receiver,
                              [&result](const PartFile::MoveResult &r) { result = r; });
            QTRY_VERIFY(result);
            QCOMPARE(result->ok, name == QStringLiteral("paper.pdf"));
            QCOMPARE(result->nameTaken, !result->ok);
            part.discard();
        }
        QCOMPARE(fntest::readFile(earlier), QByteArray("the new copy"));
        QCOMPARE(fntest::readFile(dir.filePath(QStringLiteral("changed.pdf"))),
                 QByteArray("and is another now"));
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("link.pdf"))).isSymLink());
        QTRY_VERIFY(PartFile::waitForDiskWork(0));
        QCOMPARE(entries(dir.path()), QStringList({"changed.pdf", "link.pdf", "paper.pdf"}));
    }

    // Kept bytes are opened again on the worker: their head comes back with the answer, writes handed over
    // before it follow them, and the whole reaches its name byte for byte. Kept bytes of another length
    // than expected are no base for the rest and go; a name that is not this program's is refused at once.
    // A second name taken after the first was found taken is moved to on the worker too.
    void keptBytesAreReopenedAndMovedOnTheWorker()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QObject receiver;
        QByteArray first(20000, 'k');
        first.replace(0, 8, "%PDF-1.4");
        const QByteArray rest(30000, 'r');
        const auto keep = [&dir](const QByteArray &bytes) {
            PartFile kept;
            if (!kept.open(dir.path()) || !kept.write(bytes))
                return QString();
            const QString name = kept.temporaryName();
            kept.keep();
            return PartFile::waitForDiskWork(20000) ? name : QString();
        };

        const QString keptName = keep(first);
        QVERIFY(!keptName.isEmpty());
        std::optional<QByteArray> head;
        PartFile part;
        QVERIFY(part.reopen(
            dir.path(), keptName, first.size(), 8192, &receiver,
            [&head](bool ok, const QByteArray &bytes) { head = ok ? bytes : QByteArray("failed"); }));
        QCOMPARE(part.size(), first.size());
        QVERIFY(part.write(rest));
        QVERIFY(!head); // the answer is an event
        QTRY_VERIFY(head);
        QCOMPARE(*head, first.left(8192));
        const QByteArray foreign("another program's file");
        {
            QFile taken(dir.filePath(QStringLiteral("paper.pdf")));
            QVERIFY(taken.open(QIODevice::WriteOnly) && taken.write(foreign) == foreign.size());
        }
        std::optional<PartFile::MoveResult> moved;
        part.flushAndMove(QStringLiteral("paper.pdf"), false, &receiver,
                          [&moved](const PartFile::MoveResult &result) { moved = result; });
        QTRY_VERIFY(moved);
        QVERIFY(moved->nameTaken);
        moved.reset();
        part.moveLater(QStringLiteral("paper (2).pdf"), false, &receiver,
                       [&moved](const PartFile::MoveResult &result) { moved = result; });
        QVERIFY(!moved);
        QTRY_VERIFY(moved);
        QVERIFY2(moved->ok, qPrintable(moved->error));
        QVERIFY(moved->sha256.isEmpty()); // the kept bytes were not hashed here
        QVERIFY(part.temporaryName().isEmpty());
        QCOMPARE(fntest::readFile(dir.filePath(QStringLiteral("paper (2).pdf"))), first + rest);
        QCOMPARE(fntest::readFile(dir.filePath(QStringLiteral("paper.pdf"))), foreign);
        QCOMPARE(entries(dir.path()), (QStringList{"paper (2).pdf", "paper.pdf"}));

        const QString shorter = keep(first);
        QVERIFY(!shorter.isEmpty());
        std::optional<bool> reopened;
        PartFile other;
        QVERIFY(other.reopen(dir.path(), shorter, first.size() + 1, 8192, &receiver,
                             [&reopened](bool ok, const QByteArray &) { reopened = ok; }));
        QVERIFY(other.write(rest));
        QTRY_VERIFY(reopened);
        QVERIFY(!*reopened);
        QVERIFY(!other.write(rest));
        other.discard();
        QVERIFY(PartFile::waitForDiskWork(20000));
        QCOMPARE(entries(dir.path()), (QStringList{"paper (2).pdf", "paper.pdf"}));

        reopened.reset();
        QVERIFY(other.reopen(dir.path(), shorter, first.size(), 8192, &receiver,
                             [&reopened](bool ok, const QByteArray &) { reopened = ok; }));
        QTRY_VERIFY(reopened);
        QVERIFY(!*reopened); // gone
        QVERIFY(!other.reopen(dir.path(), QStringLiteral("paper.pdf"), foreign.size(), 8192, &receiver,
                              [](bool, const QByteArray &) { QFAIL("no answer for a refused name"); }));
        other.discard();
        QVERIFY(PartFile::waitForDiskWork(20000));
        QCOMPARE(fntest::readFile(dir.filePath(QStringLiteral("paper.pdf"))), foreign);
    }

    // The digest handed on with a moved file is of exactly the bytes under its name: a file emptied and
    // written again, or one that waited for a second name, reports its final content; a file another
    // program added to reports none.
    void theDigestIsOfTheBytesUnderTheName()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QObject receiver;
        std::optional<PartFile::MoveResult> moved;
        auto take = [&moved](const PartFile::MoveResult &result) { moved = result; };
        fntest::writeFile(dir.filePath(QStringLiteral("taken.pdf")), "another file");

        PartFile part;
        QVERIFY(part.open(dir.path()));
        QVERIFY(part.write(QByteArray(70000, 'x')));
        QVERIFY(part.truncate());
        QByteArray body;
        for (int i = 0; i < 40; ++i) {
            const QByteArray piece(1000 + 37 * i, char('a' + i % 26));
            QVERIFY(part.write(piece));
            body += piece;
        }
        part.flushAndMove(QStringLiteral("taken.pdf"), false, &receiver, take);
        QTRY_VERIFY(moved);
        QVERIFY(moved->nameTaken);
        moved.reset();
        part.moveLater(QStringLiteral("free.pdf"), false, &receiver, take);
        QTRY_VERIFY(moved);
        QVERIFY2(moved->ok, qPrintable(moved->error));
        QCOMPARE(fntest::readFile(dir.filePath(QStringLiteral("free.pdf"))), body);
        QCOMPARE(moved->sha256, sha256(body));

        // Another program adds to the temporary file while it waits for its flush.
        PartFileSeam::setGroupWindow(1500);
        PartFile changed;
        QVERIFY(changed.open(dir.path()));
        QVERIFY(changed.write(body));
        const QString temporary = dir.filePath(changed.temporaryName());
        moved.reset();
        changed.flushAndMove(QStringLiteral("changed.pdf"), false, &receiver, take);
        QTRY_COMPARE(QFileInfo(temporary).size(), body.size());
        {
            QFile other(temporary);
            QVERIFY(other.open(QIODevice::Append) && other.write("more") == 4);
        }
        QTRY_VERIFY(moved);
        PartFileSeam::setGroupWindow(0);
        QVERIFY2(moved->ok, qPrintable(moved->error));
        QCOMPARE(fntest::readFile(dir.filePath(QStringLiteral("changed.pdf"))), body + "more");
        QVERIFY(moved->sha256.isEmpty());

        // A large file is not hashed on its way to the disk (in pieces too large to be kept for reuse,
        // which a later test counts on).
        PartFile large;
        QVERIFY(large.open(dir.path()));
        for (int i = 0; i < 6; ++i)
            QVERIFY(large.write(QByteArray(1536 * 1024, char('0' + i))));
        moved.reset();
        large.flushAndMove(QStringLiteral("large.pdf"), false, &receiver, take);
        QTRY_VERIFY(moved);
        QVERIFY2(moved->ok, qPrintable(moved->error));
        QCOMPARE(QFileInfo(dir.filePath(QStringLiteral("large.pdf"))).size(), 9 * 1024 * 1024);
        QVERIFY(moved->sha256.isEmpty());
    }

    void theFolderIsOpenedOnTheWorker_data()
    {
        QTest::addColumn<bool>("reopen");
        QTest::addColumn<QString>("folder");
        for (const QString folder : {"missing", "read-only", "fine"})
            QTest::newRow(qPrintable(QStringLiteral("open, ") + folder)) << false << folder;
        for (const QString folder : {"missing", "fine"})
            QTest::newRow(qPrintable(QStringLiteral("reopen, ") + folder)) << true << folder;
    }
    // Neither opening a file nor opening kept bytes again looks up the folder's path on the event loop's
    // thread. A folder that cannot be opened fails the file at its next write or its flush with the
    // system's reason, as a folder that takes no new file does, and nothing is left behind.
    void theFolderIsOpenedOnTheWorker()
    {
        QFETCH(bool, reopen);
        QFETCH(QString, folder);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QObject receiver;
        QString kept;
        if (reopen) {
            PartFile first;
            QVERIFY(first.open(dir.path()));
            QVERIFY(first.write("%PDF-1.4 kept"));
            kept = first.temporaryName();
            first.keep();
            QVERIFY(PartFile::waitForDiskWork(20000));
        }
        QString path = dir.path();
        int refused = 0;
        if (folder == u"missing") {
            path = dir.filePath(QStringLiteral("gone"));
            refused = ENOENT;
        } else if (folder == u"read-only") {
            // Whoever may write anywhere is still refused a new file in /sys.
            path = ::geteuid() == 0 ? QStringLiteral("/sys") : dir.filePath(QStringLiteral("shut"));
            QVERIFY(path == u"/sys" || (QDir(dir.path()).mkdir(QStringLiteral("shut")) &&
                                        QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner)));
            refused = EACCES;
        }

        const int looks = diskLooksOnMainThread();
        PartFile part;
        std::optional<bool> reopened;
        if (reopen)
            QVERIFY(part.reopen(path, kept, 13, 8, &receiver,
                                [&reopened](bool ok, const QByteArray &) { reopened = ok; }));
        else
            QVERIFY(part.open(path));
        part.write(" more"); // may already fail
        std::optional<PartFile::MoveResult> moved;
        part.flushAndMove(QStringLiteral("paper.pdf"), false, &receiver,
                          [&moved](const PartFile::MoveResult &result) { moved = result; });
        QTRY_VERIFY(moved);
        QCOMPARE(diskLooksOnMainThread(), looks);
        QCOMPARE(moved->ok, refused == 0);
        QCOMPARE(moved->errorCode, refused);
        if (reopen)
            QCOMPARE(reopened, std::optional<bool>(refused == 0));
        QVERIFY(PartFile::waitForDiskWork(20000));
        QStringList left = entries(dir.path());
        if (refused == 0) {
            QCOMPARE(left, QStringList{"paper.pdf"});
            QCOMPARE(fntest::readFile(dir.filePath(QStringLiteral("paper.pdf"))),
                     QByteArray(reopen ? "%PDF-1.4 kept more" : " more"));
        } else {
            QCOMPARE(left, reopen ? QStringList{kept} : QStringList());
            QVERIFY(!QFileInfo::exists(path) ||
                    entries(path).filter(QLatin1String(PartFile::Prefix)).isEmpty());
        }
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
