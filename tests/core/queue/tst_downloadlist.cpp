#include "core/common/filenames.h"
#include "core/rows/downloadlistmodel.h"
#include "core/rows/foldernames.h"
#include "core/rows/targetfile.h"
#include "testenv.h"
#include "testrows.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <unistd.h>

namespace {

DownloadRow makeRow(const QString &key, RowState state = RowState::Waiting)
{
    DownloadRow row;
    row.key = key;
    row.name = key;
    row.type = QStringLiteral("pdf");
    row.state = state;
    return row;
}

} // namespace

class TestDownloadList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void modelFollowsTheItemModelRules()
    {
        DownloadListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (int i = 0; i < 20; ++i)
            QVERIFY(TestRows::of(model).addRow(makeRow(QStringLiteral("k%1").arg(i))) != RowId::None);
        QVERIFY(TestRows::of(model).update(model.idAt(3), [](DownloadRow &r) { r.size = 100; }));
        model.flushChanges();
        const QList<RowId> removed = TestRows::of(model).removeRowsIf(
            [](const DownloadRow &r) { return r.key.endsWith(u'1') || r.key == u"k2"; });
        QCOMPARE(removed.size(), 3);
        QCOMPARE(model.count(), 17);
        TestRows::of(model).sortRows(
            [](const DownloadRow &a, const DownloadRow &b) { return a.key > b.key; });
        QCOMPARE(model.row(0).key, QStringLiteral("k9"));
        QVERIFY(TestRows::of(model).removeRow(model.idAt(0)));
        QList<RowId> reversed;
        for (int i = model.count() - 1; i >= 0; --i)
            reversed << model.idAt(i);
        TestRows::of(model).reorderRows(reversed);
        QCOMPARE(model.row(0).key, QStringLiteral("k0"));
        TestRows::of(model).clear();
        QCOMPARE(model.count(), 0);
    }

    void headersFlagsAndCells()
    {
        DownloadListModel model;
        QStringList headers;
        for (int c = 0; c < model.columnCount(); ++c)
            headers << model.headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers,
                 QStringList({"名称", "类型", "文件大小", "已下载数", "百分比", "保存路径", "速度"}));
        DownloadRow row = makeRow(QStringLiteral("http://s/a.pdf"));
        row.folder = QStringLiteral("/tmp/x/");
        row.tag = QStringLiteral("http://s/results");
        const RowId id = TestRows::of(model).addRow(row);
        QVERIFY(!(model.flags(model.index(0, 0)) & Qt::ItemIsEditable));
        QCOMPARE(model.data(model.index(0, DownloadListModel::ColFolder)).toString(),
                 QStringLiteral("/tmp/x/"));
        QCOMPARE(model.data(model.index(0, 0), DownloadListModel::TagRole).toString(), row.tag);
        QCOMPARE(model.data(model.index(0, 0), DownloadListModel::StateRole).toInt(), 1);
        model.setStateDecorations({QVariant(1), QVariant(2), QVariant(3), QVariant(4)});
        TestRows::of(model).setState(id, RowState::Failed);
        QCOMPARE(model.data(model.index(0, 0), Qt::DecorationRole).toInt(), 4);
    }

    void keysAreUnique()
    {
        DownloadListModel model;
        QSignalSpy changed(&model, &DownloadListModel::rowsChanged);
        const RowId first = TestRows::of(model).addRow(makeRow(QStringLiteral("a")));
        QVERIFY(first != RowId::None);
        QCOMPARE(TestRows::of(model).addRow(makeRow(QStringLiteral("a"))), RowId::None);
        QCOMPARE(model.count(), 1);
        QCOMPARE(changed.count(), 1);
        QVERIFY(TestRows::of(model).removeRow(first));
        const RowId again = TestRows::of(model).addRow(makeRow(QStringLiteral("a"))); // the key is free again
        QVERIFY(again != RowId::None);
        QVERIFY(again != first); // ids are never given twice
        QCOMPARE(model.positionOfKey(QStringLiteral("a")), 0);
        QCOMPARE(model.positionOfKey(QStringLiteral("b")), -1);
    }

    // Rows added together: one notification, keys unique against the list and among themselves, and
    // the list after it as addRow one by one would have left it.
    void rowsAddedTogether()
    {
        DownloadListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        TestRows::of(model).addRow(makeRow(QStringLiteral("a")));
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(&model, &DownloadListModel::rowsChanged);
        const QList<RowId> added = TestRows::of(model).addRows(
            {makeRow(QStringLiteral("b")), makeRow(QStringLiteral("a")), makeRow(QStringLiteral("c")),
             makeRow(QStringLiteral("b")), makeRow(QString())});
        QCOMPARE(added.size(), 3);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(model.count(), 4);
        QCOMPARE(model.row(1).key, QStringLiteral("b"));
        QCOMPARE(model.row(2).key, QStringLiteral("c"));
        QCOMPARE(model.row(3).key, QString());
        for (int i = 1; i < 4; ++i) {
            QCOMPARE(model.idAt(i), added.at(i - 1));
            QCOMPARE(model.positionOf(added.at(i - 1)), i);
            QCOMPARE(model.row(i).givenName, model.row(i).name);
        }
        QCOMPARE(model.idOfKey(QStringLiteral("c")), added.at(1));
        QVERIFY(TestRows::of(model).addRows({makeRow(QStringLiteral("a"))}).isEmpty());
        QCOMPARE(inserted.count(), 1);
    }

    // Sorting by a text: without regard to case, stable among equal texts, either way round.
    void sortByTextIgnoresCaseAndKeepsTies()
    {
        DownloadListModel model;
        for (const char *key : {"b2", "B1", "a", "c", "b3", "A0"}) {
            DownloadRow row = makeRow(QString::fromLatin1(key));
            row.name = QString::fromLatin1(key).left(1);
            TestRows::of(model).addRow(row);
        }
        const auto keys = [&model] {
            QStringList list;
            for (int i = 0; i < model.count(); ++i)
                list << model.row(i).key;
            return list;
        };
        TestRows::of(model).sortRowsByText([](const DownloadRow &r) { return r.name; }, true);
        QCOMPARE(keys(), QStringList({"a", "A0", "b2", "B1", "b3", "c"}));
        TestRows::of(model).sortRowsByText([](const DownloadRow &r) { return r.name; }, false);
        QCOMPARE(keys(), QStringList({"c", "b2", "B1", "b3", "a", "A0"}));
        for (int i = 0; i < model.count(); ++i)
            QCOMPARE(model.positionOfKey(model.row(i).key), i);
    }

    void rowsKeepTheirIdentity()
    {
        DownloadListModel model;
        QSignalSpy dropped(&model, &DownloadListModel::rowsDropped);
        QSignalSpy finished(&model, &DownloadListModel::rowFinished);
        QList<RowId> ids;
        for (const char *key : {"a", "b", "c", "d"})
            ids << TestRows::of(model).addRow(makeRow(QString::fromUtf8(key)));
        QCOMPARE(model.idsAt({3, 0, 9}), QList<RowId>({ids.at(3), ids.at(0)}));
        QCOMPARE(model.idOfKey(QStringLiteral("c")), ids.at(2));
        QCOMPARE(model.idOfKey(QStringLiteral("x")), RowId::None);
        QCOMPARE(model.idAt(4), RowId::None);

        // Sorting and reordering move rows, not identities.
        TestRows::of(model).sortRows(
            [](const DownloadRow &x, const DownloadRow &y) { return x.key > y.key; });
        QCOMPARE(model.positionOf(ids.at(0)), 3);
        QCOMPARE(model.find(ids.at(0))->key, QStringLiteral("a"));
        QVERIFY(TestRows::of(model).update(ids.at(0), [](DownloadRow &r) { r.downloaded = 7; }));
        QCOMPARE(model.cellText(3, DownloadListModel::ColDownloaded), QStringLiteral("7"));
        TestRows::of(model).reorderRows({ids.at(1), ids.at(0), ids.at(2)}); // "d" is left out: it goes
        QCOMPARE(model.count(), 3);
        QCOMPARE(model.positionOf(ids.at(1)), 0);
        QCOMPARE(model.row(1).key, QStringLiteral("a"));
        QCOMPARE(model.positionOf(ids.at(3)), -1);
        QCOMPARE(dropped.count(), 1);
        QCOMPARE(dropped.at(0).at(0).value<QList<RowId>>(), QList<RowId>{ids.at(3)});
        QVERIFY(!model.containsKey(QStringLiteral("d")));

        // A row that is gone is found no more and cannot be changed.
        QVERIFY(TestRows::of(model).removeRow(ids.at(0)));
        QVERIFY(!model.find(ids.at(0)));
        QVERIFY(!TestRows::of(model).update(ids.at(0), [](DownloadRow &r) { r.name = "x"; }));
        QVERIFY(!TestRows::of(model).setState(ids.at(0), RowState::Done));
        QVERIFY(!TestRows::of(model).removeRow(ids.at(0)));
        QCOMPARE(dropped.last().at(0).value<QList<RowId>>(), QList<RowId>{ids.at(0)});
        QCOMPARE(model.positionOf(ids.at(2)), 1); // positions follow the removal

        // The key is the row's address: a change cannot move it to another key.
        TestRows::of(model).update(ids.at(2), [](DownloadRow &r) { r.key = QStringLiteral("b"); });
        QCOMPARE(model.find(ids.at(2))->key, QStringLiteral("c"));
        QCOMPARE(model.idOfKey(QStringLiteral("b")), ids.at(1));

        // Reaching done or failed is announced once per change of state.
        QVERIFY(TestRows::of(model).setState(ids.at(1), RowState::Downloading));
        QCOMPARE(finished.count(), 0);
        TestRows::of(model).setState(ids.at(1), RowState::Done);
        TestRows::of(model).setName(ids.at(1), QStringLiteral("renamed"));
        TestRows::of(model).setState(ids.at(2), RowState::Failed);
        QCOMPARE(finished.count(), 2);
        QCOMPARE(finished.at(0).at(0).value<RowId>(), ids.at(1));
        QCOMPARE(finished.at(1).at(0).value<RowId>(), ids.at(2));

        TestRows::of(model).clear();
        QCOMPARE(dropped.last().at(0).value<QList<RowId>>(), QList<RowId>({ids.at(1), ids.at(2)}));
    }

    void countersOnEmptyAndMixedLists()
    {
        DownloadListModel model;
        QCOMPARE(model.统计未下载项数目(), 0);
        QVERIFY(model.检测是否下载列表完毕());
        QCOMPARE(model.totalsText(), QStringLiteral("总数：0|正在下载：0|等待：0|已完成：0|失败：0"));
        QCOMPARE(model.recordCountText(), QStringLiteral("记录数：0"));

        DownloadRow skipped = makeRow("skipped", RowState::Done);
        skipped.size = skipped.downloaded = 10;
        skipped.percentNote = PercentNote::Skipped;
        DownloadRow again = makeRow("again", RowState::Waiting);
        again.sizeNote = SizeNote::WaitAgain;
        DownloadRow running = makeRow("running", RowState::Downloading);
        running.downloaded = 5;
        QList<RowId> ids;
        for (const DownloadRow &r : {skipped, again, makeRow("failed-empty", RowState::Failed),
                                     makeRow("new", RowState::Waiting), running})
            ids << TestRows::of(model).addRow(r);
        QCOMPARE(model.cellText(0, DownloadListModel::ColSize), QStringLiteral("10"));
        QCOMPARE(model.cellText(0, DownloadListModel::ColDownloaded), QStringLiteral("10"));
        QCOMPARE(model.cellText(0, DownloadListModel::ColPercent), QStringLiteral("已存在，跳过"));
        QCOMPARE(model.cellText(1, DownloadListModel::ColSize), QStringLiteral("等待重新下载"));

        // Counted: rows whose three progress cells are empty, whatever their state.
        QCOMPARE(model.统计未下载项数目(), 2);
        QVERIFY(!model.检测是否下载列表完毕());
        QCOMPARE(model.totalsText(), QStringLiteral("总数：5|正在下载：1|等待：2|已完成：1|失败：1"));
        QCOMPARE(model.recordCountText(), QStringLiteral("记录数：5"));

        TestRows::of(model).setState(ids.at(1), RowState::Failed);
        TestRows::of(model).setState(ids.at(3), RowState::Done);
        QVERIFY(!model.检测是否下载列表完毕());
        TestRows::of(model).setState(ids.at(4), RowState::Done);
        QVERIFY(model.检测是否下载列表完毕());
        TestRows::of(model).ResetDownloadList();
        QCOMPARE(model.count(), 0);
    }

    void progressReachesViewsInBatches()
    {
        DownloadListModel model;
        const RowId a = TestRows::of(model).addRow(makeRow("a"));
        const RowId b = TestRows::of(model).addRow(makeRow("b"));
        QSignalSpy spy(&model, &DownloadListModel::dataChanged);
        for (int i = 0; i < 500; ++i) {
            TestRows::of(model).update(a, [i](DownloadRow &r) { r.downloaded = i; });
            TestRows::of(model).update(b, [i](DownloadRow &r) { r.downloaded = i; });
        }
        QCOMPARE(spy.count(), 0);
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toModelIndex().row(), 0);
        QCOMPARE(spy.at(0).at(1).toModelIndex().row(), 1);
        QCOMPARE(model.cellText(1, DownloadListModel::ColDownloaded), QStringLiteral("499"));
    }

    void cellsShowTheTypedValues()
    {
        DownloadRow row = makeRow("a", RowState::Downloading);
        QVERIFY(row.progressEmpty());
        auto cell = [&row](DownloadListModel::Column c) { return DownloadListModel::cellText(row, c); };
        row.size = 3;
        row.downloaded = 2;
        QCOMPARE(cell(DownloadListModel::ColPercent), QString()); // shown only once a transfer says so
        row.percentShown = true;
        QCOMPARE(cell(DownloadListModel::ColPercent), QStringLiteral("66%")); // the whole part, not rounded
        row.size = 10'000'000'000'000LL;
        row.downloaded = 9'999'999'999'999LL;
        QCOMPARE(cell(DownloadListModel::ColPercent), QStringLiteral("99%"));
        QCOMPARE(cell(DownloadListModel::ColSize), QStringLiteral("10000000000000"));
        row.size = 0;
        QCOMPARE(cell(DownloadListModel::ColPercent), QString());
        row.percentNote = PercentNote::Held;
        QCOMPARE(cell(DownloadListModel::ColPercent), QStringLiteral("已下载过"));
        row.sizeNote = SizeNote::Cancelled;
        QCOMPARE(cell(DownloadListModel::ColSize), QStringLiteral("下载取消"));
        QVERIFY(!row.progressEmpty());

        // The speed shows only while the row downloads.
        row.speed = 2048;
        QVERIFY(!cell(DownloadListModel::ColSpeed).isEmpty());
        row.state = RowState::Done;
        QCOMPARE(cell(DownloadListModel::ColSpeed), QString());

        row.clearProgress();
        QVERIFY(row.progressEmpty());
        QCOMPARE(row.sizeText() + row.downloadedText() + row.percentText(), QString());
    }

    void aFailedRowShowsNoBytesNorAFinishedShare()
    {
        // A web page that came whole where the paper was expected: the try reached 100%, the row holds
        // nothing. A short body of a resumed try: its numbers were the file's, yet nothing is kept.
        DownloadListModel model;
        for (auto [size, got, note] : {std::tuple{qint64(7945), qint64(7945), PercentNote::None},
                                       std::tuple{qint64(7945), qint64(6140), PercentNote::None},
                                       std::tuple{qint64(2921), qint64(2921), PercentNote::Full}}) {
            DownloadRow row =
                makeRow(QString::number(got) + QString::number(int(note)), RowState::Downloading);
            row.size = size;
            row.downloaded = got;
            row.percentShown = true;
            row.percentNote = note;
            const RowId id = TestRows::of(model).addRow(row);
            const int at = model.positionOf(id);
            QVERIFY(!model.cellText(at, DownloadListModel::ColPercent).isEmpty());
            TestRows::of(model).setState(id, RowState::Failed);
            QCOMPARE(model.cellText(at, DownloadListModel::ColDownloaded), QString());
            // Where the share stood, the row says it failed (no reason known here), and draws no bar.
            QCOMPARE(model.data(model.index(at, DownloadListModel::ColPercent)).toString(),
                     QStringLiteral("失败"));
            QVERIFY(model
                        .data(model.index(at, DownloadListModel::ColPercent),
                              DownloadListModel::UnderlyingDataRole)
                        .typeId() != QMetaType::Double);
            QCOMPARE(model.cellText(at, DownloadListModel::ColSize), QString::number(size));
        }
        // Tried again and done, the row shows its bytes once more.
        TestRows::of(model).setState(model.idAt(0), RowState::Done);
        QCOMPARE(model.cellText(0, DownloadListModel::ColPercent), QStringLiteral("100%"));
        QCOMPARE(model.cellText(0, DownloadListModel::ColDownloaded), QStringLiteral("7945"));
    }

    void numericSortValue()
    {
        DownloadListModel model;
        DownloadRow row = makeRow("a");
        row.size = 100;
        row.downloaded = 45;
        row.percentShown = true;
        row.sizeNote = SizeNote::Unknown;
        TestRows::of(model).addRow(row);
        QCOMPARE(model.cellText(0, DownloadListModel::ColPercent), QStringLiteral("45%"));
        QCOMPARE(
            model.data(model.index(0, DownloadListModel::ColPercent), DownloadListModel::UnderlyingDataRole),
            QVariant(45.0));
        QCOMPARE(
            model.data(model.index(0, DownloadListModel::ColSize), DownloadListModel::UnderlyingDataRole),
            QVariant(rowtext::UnknownSize));
    }

    // --- target file and duplicate-name rule ---

    void skipPolicy()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + u'/';
        QCOMPARE(确定是需要下载(DuplicatePolicy::Skip, folder, "paper", "pdf", {}).need, Need::Fetch);

        fntest::writeFile(folder + "paper.pdf", QByteArray(1234, 'p'));
        const NeedAnswer skip = 确定是需要下载(DuplicatePolicy::Skip, folder, "paper", "pdf", {});
        QCOMPARE(skip.need, Need::Skip);
        QCOMPARE(skip.existingLength, 1234);

        // The other policies always download; a folder of that name is no file.
        QCOMPARE(确定是需要下载(DuplicatePolicy::Rename, folder, "paper", "pdf", {}).need, Need::Fetch);
        QCOMPARE(确定是需要下载(DuplicatePolicy::Overwrite, folder, "paper", "pdf", {}).need, Need::Fetch);
        QDir(folder).mkdir("dir.pdf");
        QCOMPARE(确定是需要下载(DuplicatePolicy::Skip, folder, "dir", "pdf", {}).need, Need::Fetch);
    }

    void aFolderListingSeesWhatALookAtTheDiskSees()
    {
        // Plain files with their length, a folder, a link to a file and a link that leads nowhere (both
        // taken names, neither a file to skip on), nothing at all; listed and looked at off the main thread.
        QTemporaryDir dir;
        const QString f = dir.path() + u'/';
        fntest::writeFile(f + "paper.pdf", QByteArray(1234, 'p'));
        fntest::writeFile(f + QStringLiteral("论文 1.pdf"), QByteArray(7, 'z'));
        QDir(f).mkdir("dir.pdf");
        QVERIFY(::symlink("paper.pdf", QFile::encodeName(f + "link.pdf").constData()) == 0);
        QVERIFY(::symlink("nowhere.pdf", QFile::encodeName(f + "dangling.pdf").constData()) == 0);
        const int mainLooks = diskLooksOnMainThread();
        FolderNames names;
        QCOMPARE(names.look(f + "paper.pdf").entry, PathEntry::None); // not listed yet
        QVERIFY(!names.listed(f));
        QTRY_VERIFY(names.listed(f));
        QCOMPARE(diskLooksOnMainThread(), mainLooks);
        for (const QString &name :
             {QStringLiteral("paper.pdf"), QStringLiteral("论文 1.pdf"), QStringLiteral("dir.pdf"),
              QStringLiteral("link.pdf"), QStringLiteral("dangling.pdf"), QStringLiteral("none.pdf")})
            QCOMPARE(names.look(f + name), LookOnDisk(f + name));
        QCOMPARE(names.look(f + "paper.pdf").entry, PathEntry::File);
        QCOMPARE(names.look(f + "paper.pdf").size, 1234);
        QCOMPARE(names.look(f + "dangling.pdf").entry, PathEntry::Other);

        // Under each policy the rules answer from the listing as from the disk.
        QString fromListing, fromDisk;
        for (auto policy : {DuplicatePolicy::Skip, DuplicatePolicy::Overwrite, DuplicatePolicy::Rename}) {
            for (const char *name : {"paper", "link", "dangling", "dir", "none"}) {
                QCOMPARE(重命名保存路径(policy, f, name, "pdf", &fromListing, {}, {}, names.looker()),
                         重命名保存路径(policy, f, name, "pdf", &fromDisk));
                QCOMPARE(fromListing, fromDisk);
                QCOMPARE(确定是需要下载(policy, f, name, "pdf", {}, {}, names.looker()).need,
                         确定是需要下载(policy, f, name, "pdf", {}).need);
            }
        }
        const int mainLooksAfter = diskLooksOnMainThread();

        // A look asked for answers only once it has been made after the asking; a name refused to a
        // move counts as taken until then.
        fntest::writeFile(f + "late.pdf", "x");
        QCOMPARE(names.look(f + "late.pdf").entry, PathEntry::None);
        const quint64 ticket = names.recheck(f + "late.pdf");
        QVERIFY(!names.answeredSince(f + "late.pdf", ticket));
        QTRY_VERIFY(names.answeredSince(f + "late.pdf", ticket));
        QCOMPARE(names.look(f + "late.pdf").entry, PathEntry::File);
        QCOMPARE(names.look(f + "late.pdf").size, 1);
        names.markTaken(f + "refused.pdf");
        QCOMPARE(names.look(f + "refused.pdf").entry, PathEntry::Other);
        QTRY_COMPARE(names.look(f + "refused.pdf").entry, PathEntry::None);

        // What other programs add or remove shows within about a second, without being asked.
        QFile::remove(f + "paper.pdf");
        fntest::writeFile(f + "new.pdf", "yy");
        QTRY_VERIFY_WITH_TIMEOUT(
            (names.refreshDue(), names.look(f + "new.pdf").entry == PathEntry::File &&
                                     names.look(f + "paper.pdf").entry == PathEntry::None),
            5000);
        QCOMPARE(diskLooksOnMainThread(), mainLooksAfter);

        // A folder that is not there yet is listed as empty, and listed again once it is made.
        const QString later = f + "later/";
        QVERIFY(!names.listed(later));
        QTRY_VERIFY(names.listed(later));
        QDir(f).mkdir("later");
        fntest::writeFile(later + "x.pdf", "xyz");
        QTRY_VERIFY_WITH_TIMEOUT((names.refreshDue(), names.look(later + "x.pdf").entry == PathEntry::File),
                                 5000);
    }

    void aFileBeingWrittenCountsAsTaken()
    {
        QTemporaryDir dir;
        const QString f = dir.path() + u'/';
        const ReservedPaths reserved{f + "paper.pdf"};
        // Skip and overwrite wait for the transfer writing that very file; rename moves on to a new name.
        QCOMPARE(确定是需要下载(DuplicatePolicy::Skip, f, "paper", "pdf", reserved).need, Need::Wait);
        QCOMPARE(确定是需要下载(DuplicatePolicy::Overwrite, f, "paper", "pdf", reserved).need, Need::Wait);
        QCOMPARE(确定是需要下载(DuplicatePolicy::Rename, f, "paper", "pdf", reserved).need, Need::Fetch);
        QCOMPARE(确定是需要下载(DuplicatePolicy::Skip, f, "other", "pdf", reserved).need, Need::Fetch);
        QString name;
        QCOMPARE(重命名保存路径(DuplicatePolicy::Rename, f, "paper", "pdf", &name, reserved),
                 f + "paper[001].pdf");
        QCOMPARE(name, QStringLiteral("paper[001]"));
        fntest::writeFile(f + "paper[001].pdf", "x");
        QCOMPARE(重命名保存路径(DuplicatePolicy::Rename, f, "paper", "pdf", &name, reserved),
                 f + "paper[002].pdf");
        // Nothing is written while a name is only being chosen.
        QVERIFY(!QFile::exists(f + "paper.pdf"));
    }

    void rowPathJoinsFolderNameAndType()
    {
        DownloadRow row = makeRow("k");
        row.folder = QStringLiteral("/papers"); // the slash is added
        row.name = QString(125, QChar(0x6587)); // taken as the row holds it, even when too long for a disk
        QCOMPARE(rowFilePath(row), "/papers/" + row.name + ".pdf");
        row.type.clear();
        QCOMPARE(rowFilePath(row), "/papers/" + row.name);
    }

    void renamePolicy()
    {
        QTemporaryDir dir;
        const QString folder = dir.path(); // no trailing slash: one is added
        QString name;
        QCOMPARE(重命名保存路径(DuplicatePolicy::Rename, folder, "paper", "pdf", &name),
                 folder + "/paper.pdf");
        QCOMPARE(name, QStringLiteral("paper"));

        fntest::writeFile(folder + "/paper.pdf", "1");
        fntest::writeFile(folder + "/paper[001].pdf", "2");
        QCOMPARE(重命名保存路径(DuplicatePolicy::Rename, folder, "paper", "pdf", &name),
                 folder + "/paper[002].pdf");
        QCOMPARE(name, QStringLiteral("paper[002]"));
        // Skip resolves names the same way as rename (only overwrite keeps the name).
        QCOMPARE(重命名保存路径(DuplicatePolicy::Skip, folder, "paper", "pdf", &name),
                 folder + "/paper[002].pdf");

        QCOMPARE(重命名保存路径(DuplicatePolicy::Overwrite, folder, "paper", "pdf", &name),
                 folder + "/paper.pdf");
        QCOMPARE(name, QStringLiteral("paper"));
    }

    void renameCountsOnFromABracketedNumber()
    {
        QTemporaryDir dir;
        const QString f = dir.path() + u'/';
        QString name;
        fntest::writeFile(f + "paper[7].pdf", "x");
        fntest::writeFile(f + "paper[007].pdf", "x");
        QCOMPARE(重命名保存路径(DuplicatePolicy::Rename, f, "paper[7]", "pdf", &name), f + "paper[008].pdf");
        QCOMPARE(name, QStringLiteral("paper[008]"));

        fntest::writeFile(f + "paper[003].pdf", "x");
        QCOMPARE(重命名保存路径(DuplicatePolicy::Rename, f, "paper[003]", "pdf", &name),
                 f + "paper[004].pdf");

        // Brackets around text become corner brackets; counting starts only when that name is taken.
        fntest::writeFile(f + "a[b].pdf", "x");
        QCOMPARE(重命名保存路径(DuplicatePolicy::Rename, f, "a[b]", "pdf", &name), f + "a『b』.pdf");
        QCOMPARE(name, QStringLiteral("a『b』"));
        fntest::writeFile(f + "a『b』.pdf", "x");
        QCOMPARE(重命名保存路径(DuplicatePolicy::Rename, f, "a[b]", "pdf", &name), f + "a『b』[001].pdf");

        // Counters past 999 keep counting with more digits.
        fntest::writeFile(f + "n[999].pdf", "x");
        QCOMPARE(重命名保存路径(DuplicatePolicy::Rename, f, "n[999]", "pdf", &name), f + "n[1000].pdf");
    }

    void longNamesStillFitOnDisk()
    {
        QTemporaryDir dir;
        const QString f = dir.path() + u'/';
        const QString title(125, QChar(0x6587)); // what CleanFileName leaves of a long Chinese title
        QString name;
        const QString first = 重命名保存路径(DuplicatePolicy::Rename, f, title, "pdf", &name);
        fntest::writeFile(first, "x");
        QVERIFY(FileExists(first));
        const QString second = 重命名保存路径(DuplicatePolicy::Rename, f, title, "pdf", &name);
        QVERIFY(second.endsWith(QStringLiteral("[001].pdf")));
        fntest::writeFile(second, "x");
        QVERIFY(FileExists(second));
        QVERIFY(name.toUtf8().size() + 4 <= 255);
        // The skip rule looks at the name the row holds, which the queue has fitted to the disk before.
        QCOMPARE(确定是需要下载(DuplicatePolicy::Skip, f, FitNameForDisk(title, "pdf", 0), "pdf", {}).need,
                 Need::Skip);
    }
};

FN_TEST_MAIN_CORE(TestDownloadList)
#include "tst_downloadlist.moc"
