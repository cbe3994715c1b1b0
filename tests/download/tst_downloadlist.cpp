#include "common/filenames.h"
#include "download/downloadlistmodel.h"
#include "download/targetfile.h"
#include "testenv.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTemporaryDir>

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
            QVERIFY(model.addRow(makeRow(QStringLiteral("k%1").arg(i))));
        model.setCell(3, DownloadListModel::ColSize, QStringLiteral("100"));
        model.flushChanges();
        model.removeRowsIf([](const DownloadRow &r) { return r.key.endsWith(u'1') || r.key == u"k2"; });
        QCOMPARE(model.count(), 17);
        model.sortRows([](const DownloadRow &a, const DownloadRow &b) { return a.key > b.key; });
        QCOMPARE(model.row(0).key, QStringLiteral("k9"));
        model.removeRowAt(0);
        model.clear();
        QCOMPARE(model.count(), 0);
    }

    void headersFlagsAndCells()
    {
        DownloadListModel model;
        QStringList headers;
        for (int c = 0; c < model.columnCount(); ++c)
            headers << model.headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers, QStringList({"名称", "类型", "文件大小", "已下载数", "百分比", "保存路径"}));
        DownloadRow row = makeRow(QStringLiteral("http://s/a.pdf"));
        row.folder = QStringLiteral("/tmp/x/");
        row.tag = QStringLiteral("http://s/results");
        model.addRow(row);
        QVERIFY(!(model.flags(model.index(0, 0)) & Qt::ItemIsEditable));
        QCOMPARE(model.data(model.index(0, DownloadListModel::ColFolder)).toString(), QStringLiteral("/tmp/x/"));
        QCOMPARE(model.data(model.index(0, 0), DownloadListModel::TagRole).toString(), row.tag);
        QCOMPARE(model.data(model.index(0, 0), DownloadListModel::StateRole).toInt(), 1);
        model.setStateDecorations({QVariant(1), QVariant(2), QVariant(3), QVariant(4)});
        model.setState(0, RowState::Failed);
        QCOMPARE(model.data(model.index(0, 0), Qt::DecorationRole).toInt(), 4);
    }

    void keysAreUnique()
    {
        DownloadListModel model;
        QSignalSpy changed(&model, &DownloadListModel::rowsChanged);
        QVERIFY(model.addRow(makeRow(QStringLiteral("a"))));
        QVERIFY(!model.addRow(makeRow(QStringLiteral("a"))));
        QCOMPARE(model.count(), 1);
        QCOMPARE(changed.count(), 1);
        model.removeRowAt(0);
        QVERIFY(model.addRow(makeRow(QStringLiteral("a")))); // the key is free again
        QCOMPARE(model.positionOfKey(QStringLiteral("a")), 0);
        QCOMPARE(model.positionOfKey(QStringLiteral("b")), -1);
    }

    void countersOnEmptyAndMixedLists()
    {
        DownloadListModel model;
        QCOMPARE(model.统计未下载项数目(), 0);
        QVERIFY(model.检测是否下载列表完毕());
        QCOMPARE(model.totalsText(), QStringLiteral("总数：0|正在下载：0|等待：0|已完成：0|失败：0"));
        QCOMPARE(model.recordCountText(), QStringLiteral("记录数：0"));

        model.addRow(makeRow("skipped", RowState::Done));
        model.setCell(0, DownloadListModel::ColSize, "10");
        model.setCell(0, DownloadListModel::ColDownloaded, "10");
        model.setCell(0, DownloadListModel::ColPercent, rowtext::Skipped);
        model.addRow(makeRow("again", RowState::Waiting));
        model.setCell(1, DownloadListModel::ColSize, rowtext::WaitAgain);
        model.addRow(makeRow("failed-empty", RowState::Failed));
        model.addRow(makeRow("new", RowState::Waiting));
        model.addRow(makeRow("running", RowState::Downloading));
        model.setCell(4, DownloadListModel::ColDownloaded, "5");

        // Counted: rows whose three progress cells are empty, whatever their state.
        QCOMPARE(model.统计未下载项数目(), 2);
        QVERIFY(!model.检测是否下载列表完毕());
        QCOMPARE(model.totalsText(), QStringLiteral("总数：5|正在下载：1|等待：2|已完成：1|失败：1"));
        QCOMPARE(model.recordCountText(), QStringLiteral("记录数：5"));

        model.setState(1, RowState::Failed);
        model.setState(3, RowState::Done);
        QVERIFY(!model.检测是否下载列表完毕());
        model.setState(4, RowState::Done);
        QVERIFY(model.检测是否下载列表完毕());
        model.ResetDownloadList();
        QCOMPARE(model.count(), 0);
    }

    void progressReachesViewsInBatches()
    {
        DownloadListModel model;
        model.addRow(makeRow("a"));
        model.addRow(makeRow("b"));
        QSignalSpy spy(&model, &DownloadListModel::dataChanged);
        for (int i = 0; i < 500; ++i) {
            model.setCell(0, DownloadListModel::ColDownloaded, QString::number(i));
            model.setCell(1, DownloadListModel::ColDownloaded, QString::number(i));
        }
        QCOMPARE(spy.count(), 0);
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toModelIndex().row(), 0);
        QCOMPARE(spy.at(0).at(1).toModelIndex().row(), 1);
        QCOMPARE(model.row(1).downloaded, QStringLiteral("499"));
    }

    void numericSortValue()
    {
        DownloadListModel model;
        model.addRow(makeRow("a"));
        model.setCell(0, DownloadListModel::ColPercent, "45%");
        model.setCell(0, DownloadListModel::ColSize, rowtext::UnknownSize);
        QCOMPARE(model.data(model.index(0, DownloadListModel::ColPercent), DownloadListModel::UnderlyingDataRole),
                 QVariant(45.0));
        QCOMPARE(model.data(model.index(0, DownloadListModel::ColSize), DownloadListModel::UnderlyingDataRole),
                 QVariant(rowtext::UnknownSize));
    }

    // --- target file and duplicate-name rule ---

    void skipPolicy()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + u'/';
        DownloadListModel model;
        model.addRow(makeRow("x"));
        QVERIFY(确定是需要下载(model, 0, DuplicatePolicy::Skip, folder, "paper", "pdf"));
        QCOMPARE(model.row(0).state, RowState::Waiting);

        fntest::writeFile(folder + "paper.pdf", QByteArray(1234, 'p'));
        QVERIFY(!确定是需要下载(model, 0, DuplicatePolicy::Skip, folder, "paper", "pdf"));
        QCOMPARE(model.row(0).state, RowState::Done);
        QCOMPARE(model.row(0).size, QStringLiteral("1234"));
        QCOMPARE(model.row(0).downloaded, QStringLiteral("1234"));
        QCOMPARE(model.row(0).percent, QStringLiteral("已存在，跳过"));
        QCOMPARE(model.统计未下载项数目(), 0);

        // The other policies always download; a folder of that name is no file.
        model.addRow(makeRow("y"));
        QVERIFY(确定是需要下载(model, 1, DuplicatePolicy::Rename, folder, "paper", "pdf"));
        QVERIFY(确定是需要下载(model, 1, DuplicatePolicy::Overwrite, folder, "paper", "pdf"));
        QDir(folder).mkdir("dir.pdf");
        QVERIFY(确定是需要下载(model, 1, DuplicatePolicy::Skip, folder, "dir", "pdf"));
    }

    void renamePolicy()
    {
        QTemporaryDir dir;
        const QString folder = dir.path(); // no trailing slash: one is added
        QString name;
        QCOMPARE(重命名保存路径(DuplicatePolicy::Rename, folder, "paper", "pdf", &name), folder + "/paper.pdf");
        QCOMPARE(name, QStringLiteral("paper"));

        fntest::writeFile(folder + "/paper.pdf", "1");
        fntest::writeFile(folder + "/paper[001].pdf", "2");
        QCOMPARE(重命名保存路径(DuplicatePolicy::Rename, folder, "paper", "pdf", &name), folder + "/paper[002].pdf");
        QCOMPARE(name, QStringLiteral("paper[002]"));
        // Skip resolves names the same way as rename (only overwrite keeps the name).
        QCOMPARE(重命名保存路径(DuplicatePolicy::Skip, folder, "paper", "pdf", &name), folder + "/paper[002].pdf");

        QCOMPARE(重命名保存路径(DuplicatePolicy::Overwrite, folder, "paper", "pdf", &name), folder + "/paper.pdf");
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
        QCOMPARE(重命名保存路径(DuplicatePolicy::Rename, f, "paper[003]", "pdf", &name), f + "paper[004].pdf");

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
        // The skip rule looks at the same shortened name.
        DownloadListModel model;
        model.addRow(makeRow("k"));
        QVERIFY(!确定是需要下载(model, 0, DuplicatePolicy::Skip, f, title, "pdf"));
    }
};

FN_TEST_MAIN_CORE(TestDownloadList)
#include "tst_downloadlist.moc"
