// The manifest kept current while a run goes on: on a disk that fills or turns read-only the last good
// one stays, and the last write goes to the per-user data folder, with the system's own reason.
#include "batch/batchmanifest.h"
#include "batch/manifestkeeper.h"
#include "core/rows/downloadlistmodel.h"
#include "testenv.h"
#include "testrows.h"
#include "tmpfsmount.h"

#include <QDir>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

QList<DownloadRow> rowsOf(const DownloadListModel &model)
{
    QList<DownloadRow> rows;
    for (int i = 0; i < model.count(); ++i)
        rows.append(model.row(i));
    return rows;
}

QStringList hiddenFiles(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden);
}

} // namespace

class TestManifestKeeper : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    // Two rows, the first one done with its file in the folder.
    QList<RowId> addRows(DownloadListModel &model, const QString &folder)
    {
        QList<RowId> ids;
        for (const char *name : {"first", "second"}) {
            DownloadRow row;
            row.key = QStringLiteral("http://127.0.0.1:1/%1.pdf").arg(name);
            row.name = name;
            row.type = QStringLiteral("pdf");
            row.folder = folder;
            ids << TestRows::of(model).addRow(row);
        }
        fntest::writeFile(folder + QStringLiteral("first.pdf"), "%PDF-1.4 the first paper");
        TestRows::of(model).update(ids.at(0), [](DownloadRow &r) {
            r.state = RowState::Done;
            r.size = r.downloaded = 25;
        });
        return ids;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void theManifestFollowsTheList()
    {
        DownloadListModel model;
        const QString folder = m_dir->path() + u'/';
        const QList<RowId> ids = addRows(model, folder);
        const QString path = folder + batchmanifest::FileName;
        ManifestKeeper keeper(&model, path);
        keeper.start();
        QTRY_VERIFY(QFileInfo::exists(path));
        QList<batchmanifest::Row> read;
        QString error;
        QVERIFY2(batchmanifest::read(path, &read, &error), qPrintable(error));
        QCOMPARE(read.size(), 2);
        QCOMPARE(read.at(0).fields.at(3), QStringLiteral("Done"));
        QCOMPARE(read.at(1).fields.at(3), QStringLiteral("NotAttempted"));

        TestRows::of(model).update(ids.at(1), [](DownloadRow &r) { r.state = RowState::Failed; });
        QTRY_VERIFY(QString::fromUtf8(fntest::readFile(path)).contains(QStringLiteral(",Failed,")));
        QCOMPARE(hiddenFiles(folder), QStringList{});
        // Stopped, it writes no more until the last write.
        keeper.stop();
        TestRows::of(model).update(ids.at(1), [](DownloadRow &r) { r.state = RowState::Done; });
        const ManifestKeeper::Outcome last = keeper.writeLast(rowsOf(model), {});
        QVERIFY2(last.written, qPrintable(last.error));
        QVERIFY(last.fallbackPath.isEmpty());
        QCOMPARE(fntest::readFile(path), batchmanifest::text(rowsOf(model)));
    }

    void aDiskThatFillsOrTurnsReadOnlyKeepsTheLastGoodOne_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("reason");
        QTest::newRow("the disk fills") << false << QString::fromLocal8Bit(std::strerror(ENOSPC));
        QTest::newRow("the folder turns read-only") << true << QString::fromLocal8Bit(std::strerror(EROFS));
    }

    void aDiskThatFillsOrTurnsReadOnlyKeepsTheLastGoodOne()
    {
        QFETCH(bool, readOnly);
        QFETCH(QString, reason);
        fntest::TmpfsMount disk(m_dir->path() + QStringLiteral("/disk"), "256k");
        if (!disk.isMounted())
            QSKIP(qPrintable(disk.why()));
        DownloadListModel model;
        const QString folder = disk.folder() + u'/';
        const QList<RowId> ids = addRows(model, folder);
        const QString path = folder + batchmanifest::FileName;
        ManifestKeeper keeper(&model, path);
        QSignalSpy refused(&keeper, &ManifestKeeper::rewriteFailed);
        keeper.start();
        QTRY_VERIFY(QFileInfo::exists(path));
        const QByteArray good = fntest::readFile(path);
        QVERIFY(readOnly ? disk.setReadOnly(true) : disk.fill());

        TestRows::of(model).update(ids.at(1), [](DownloadRow &r) { r.state = RowState::Failed; });
        QVERIFY(refused.wait(20000));
        QCOMPARE(refused.first().at(0).toString(), path);
        QCOMPARE(refused.first().at(1).toString(), reason);
        QVERIFY(refused.first().at(2).toBool()); // the one written before is there still
        QCOMPARE(fntest::readFile(path), good);
        QCOMPARE(hiddenFiles(folder), QStringList{});

        // The last write goes where it can, and says why it could not go in its place.
        keeper.stop();
        const ManifestKeeper::Outcome last = keeper.writeLast(rowsOf(model), {});
        QVERIFY(!last.written);
        QCOMPARE(last.error, reason);
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QVERIFY2(last.fallbackPath.startsWith(data + QStringLiteral("/manifests/manifest-")),
                 qPrintable(last.fallbackPath));
        QVERIFY(last.fallbackPath.endsWith(QStringLiteral(".csv")));
        QCOMPARE(fntest::readFile(last.fallbackPath), batchmanifest::text(rowsOf(model)));
        QCOMPARE(fntest::readFile(path), good);
        QFile::remove(last.fallbackPath);
        if (readOnly)
            QVERIFY(disk.setReadOnly(false));
    }

    // The check's page count and verdict close each line; manifests written before those columns (or the
    // file address and the reason) came still read, with the missing fields empty.
    void theCheckHasColumnsAndOlderManifestsStillRead()
    {
        DownloadRow repaired;
        repaired.key = QStringLiteral("http://127.0.0.1:1/r.pdf");
        repaired.state = RowState::Failed; // no file to measure: only the verdict's columns matter here
        repaired.pdf.state = PdfVerdict::State::Damaged;
        QCOMPARE(batchmanifest::fields(repaired).mid(10, 2),
                 (QStringList{QString(), QStringLiteral("damaged")}));
        repaired.pdf = {
            PdfVerdict::State::Repaired, PdfVerdict::Damage::None, PdfVerdict::Unchecked::None, 3, {}};
        QCOMPARE(batchmanifest::fields(repaired).mid(10, 2),
                 (QStringList{QStringLiteral("3"), QStringLiteral("repaired")}));
        repaired.pdf = {};
        QCOMPARE(batchmanifest::fields(repaired).mid(10, 2), (QStringList{QString(), QString()}));

        const QStringList header = batchmanifest::header();
        QCOMPARE(header.mid(10, 2), (QStringList{QStringLiteral("pages"), QStringLiteral("pdf")}));
        const QString path = m_dir->path() + QStringLiteral("/old.csv");
        for (const int width : {8, 9, 10, 12, 11}) {
            QStringList row = batchmanifest::fields(repaired).mid(0, width);
            fntest::writeFile(
                path, (batchmanifest::csvLine(header.mid(0, width)) + batchmanifest::csvLine(row)).toUtf8());
            QList<batchmanifest::Row> read;
            QString error;
            QCOMPARE(batchmanifest::read(path, &read, &error), width != 11);
            if (width == 11)
                continue;
            QCOMPARE(read.size(), 1);
            QCOMPARE(read.first().fields.size(), header.size());
            QCOMPARE(read.first().fields.at(0), repaired.key);
        }
    }
};

FN_TEST_MAIN_CORE(TestManifestKeeper)
#include "tst_manifestkeeper.moc"
