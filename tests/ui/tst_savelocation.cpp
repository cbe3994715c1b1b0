#include "core/common/disklooks.h"
#include "core/common/gbk.h"
#include "core/settings/settingsstore.h"
#include "core/settings/sharedoptions.h"
#include "desktop/shellhelpers.h"
#include "shellseam.h"
#include "testenv.h"
#include "testoptions.h"
#include "ui/folderhistory.h"
#include "ui/savelocationchooser.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStyle>
#include <QTimer>

using namespace settingkeys;

class TestSaveLocation : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.path() + u'/' + name; }
    static QByteArray history() { return fntest::readFile(FolderHistoryPath()); }

    // Presses OK and waits for the answer about the folder to be acted on.
    static void confirmAndWait(SaveLocationChooser &chooser)
    {
        chooser.confirm();
        QTest::qWaitFor([&] { return !chooser.checking(); }, 10000);
    }

    // Opens the chooser the way a caller does, types a folder and confirms it.
    static bool confirmFolder(const QString &folder)
    {
        SaveLocationChooser chooser(TestOptions::store());
        chooser.folderBox()->setEditText(folder);
        confirmAndWait(chooser);
        return chooser.result() == QDialog::Accepted;
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(SettingsFilePath());
        QFile::remove(FolderHistoryPath());
        TestOptions::edit() = SharedOptions();
    }

    void firstUseCreatesTheDefaultFolder()
    {
        fntest::MessageRecorder recorder;
        // "Folionexus" in the documents folder, which need not exist yet.
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QVERIFY(documents.startsWith(QDir::homePath() + u'/'));
        const QString folder = documents + QStringLiteral("/Folionexus");
        QDir(documents).removeRecursively();
        {
            SaveLocationChooser chooser(TestOptions::store());
            QCOMPARE(chooser.objectName(), QStringLiteral("fSeleFileSavePath"));
            QCOMPARE(chooser.windowTitle(), QStringLiteral("选择下载保存路径－墨枢软件"));
            QVERIFY(chooser.windowFlags() & Qt::WindowStaysOnTopHint);
            QCOMPARE(chooser.folderBox()->currentText(), folder + u'/');
            QCOMPARE(chooser.folderBox()->count(), 0);
            QCOMPARE(TestOptions::store().options().DefaultSaveFolder, QString()); // proposed, not yet chosen
            confirmAndWait(chooser);
            QCOMPARE(chooser.result(), int(QDialog::Accepted));
        }
        QVERIFY(QFileInfo(folder).isDir());
        QCOMPARE(TestOptions::store().options().DefaultSaveFolder, folder + u'/');
        QCOMPARE(ReadSetting(SectionSettings, SaveFolder.name, QString()), folder + u'/');
        QVERIFY(!TestOptions::store().options().UseOriginalFileName);
        QTRY_COMPARE(history(), folder.toUtf8() + "\r\n");
        QVERIFY(recorder.messages.isEmpty());
    }

    // A folder stored by an earlier version, however it reads, is proposed and kept as it stands.
    void aStoredFolderIsKeptAsItIs()
    {
        const QString stored = QDir::homePath() + QStringLiteral("/12345/");
        WriteSetting(SaveFolder, stored);
        QDir(DefaultSaveFolderSetting()).removeRecursively();
        {
            SaveLocationChooser chooser(TestOptions::store());
            QCOMPARE(chooser.folderBox()->currentText(), stored);
            confirmAndWait(chooser);
            QCOMPARE(chooser.result(), int(QDialog::Accepted));
        }
        QCOMPARE(TestOptions::store().options().DefaultSaveFolder, stored);
        QCOMPARE(ReadSetting(SectionSettings, SaveFolder.name, QString()), stored);
        QVERIFY(!QFileInfo::exists(DefaultSaveFolderSetting()));
        QTRY_COMPARE(history(), stored.chopped(1).toUtf8() + "\r\n");
    }

    void historyIsGbkWithDuplicatesOnDiskOnly()
    {
        const QString papers = path(QStringLiteral("论文"));
        QVERIFY(confirmFolder(papers + u'/'));
        QVERIFY(confirmFolder(papers));
        const QByteArray line = gbk::encode(papers) + "\r\n";
        QVERIFY(line.contains("\xC2\xDB\xCE\xC4")); // 论文 in GBK, not UTF-8
        QTRY_COMPARE(history(), line + line);

        SaveLocationChooser chooser(TestOptions::store());
        QCOMPARE(chooser.folderBox()->count(), 1);
        QCOMPARE(chooser.folderBox()->itemText(0), papers);
        QCOMPARE(chooser.folderBox()->currentText(), papers + u'/'); // the stored folder, not the history
    }

    void readingTheHistory()
    {
        QCOMPARE(ParseFolderHistory("/a/X\r\n  /b  \r\n\r\n/A/x\r\n/B\n/c\r/d"),
                 (QStringList{"/a/X", "/b", "/c", "/d"}));
        QCOMPARE(ParseFolderHistory("\r\n"), QStringList());

        QByteArray many = "\r\n\r\n";
        for (int i = 1; i <= 105; ++i)
            many += "/f" + QByteArray::number(i) + (i % 10 == 0 ? "\r\n\r\n" : "\r\n");
        const QStringList first = ParseFolderHistory(many);
        QCOMPARE(first.size(), 100);
        QCOMPARE(first.last(), QStringLiteral("/f100"));

        // Duplicates count toward the limit.
        QByteArray repeated;
        for (int i = 0; i < 100; ++i)
            repeated += "/same\r\n";
        repeated += "/late\r\n";
        QCOMPARE(ParseFolderHistory(repeated), QStringList{"/same"});

        QComboBox box;
        box.addItem(QStringLiteral("kept"));
        LoadFolderHistory(&box, path(QStringLiteral("no-such-file.dat")));
        QCOMPARE(box.count(), 1); // a missing file changes nothing
        fntest::writeFile(path(QStringLiteral("h.dat")), gbk::encode(QStringLiteral("/数据\r\n/数据\r\n")));
        LoadFolderHistory(&box, path(QStringLiteral("h.dat")));
        QCOMPARE(box.count(), 1);
        QCOMPARE(box.itemText(0), QStringLiteral("/数据"));

        box.clear();
        SaveFolderHistory(&box, path(QStringLiteral("sub/empty.dat")));
        QCOMPARE(fntest::readFile(path(QStringLiteral("sub/empty.dat"))), QByteArray("\r\n"));
    }

    void creatingFolderChains()
    {
        fntest::MessageRecorder recorder;
        QCOMPARE(CreateFolderChain(path(QStringLiteral("a/b/c/"))), path(QStringLiteral("a/b/c")));
        QVERIFY(QFileInfo(path(QStringLiteral("a/b/c"))).isDir());
        QCOMPARE(
            CreateFolderChain(QStringLiteral(" ") + path(QStringLiteral("a/ b /")) + QStringLiteral(" ")),
            path(QStringLiteral("a/b")));
        QCOMPARE(CreateFolderChain(QStringLiteral("/")), QStringLiteral("/"));
        QVERIFY(recorder.messages.isEmpty());

        // Unusable components: the walk stops there with a message, and never climbs out with "..".
        QCOMPARE(CreateFolderChain(path(QStringLiteral("a/???/b/"))), path(QStringLiteral("a")));
        QCOMPARE(CreateFolderChain(path(QStringLiteral("a/../../x/"))), path(QStringLiteral("a")));
        QCOMPARE(recorder.texts(), QStringList(2, QStringLiteral("文件夹名称有误！不能创建文件夹！")));
        QCOMPARE(recorder.messages.first().icon, MessageIcon::Critical);
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("a/b/b"))));

        recorder.clear();
        QCOMPARE(CreateFolderChain(QStringLiteral("relative/folder/")), QString());
        QCOMPARE(CreateFolderChain(QString()), QString());
        fntest::writeFile(path(QStringLiteral("plain.txt")), "x");
        QCOMPARE(CreateFolderChain(path(QStringLiteral("plain.txt/"))), QString());
        QCOMPARE(CreateFolderChain(path(QStringLiteral("plain.txt/inner/"))), QString());
        QVERIFY(recorder.messages.isEmpty());
    }

    void existingFoldersAreTakenAsTheyAre()
    {
        fntest::MessageRecorder recorder;
        const QString notes = path(QStringLiteral("Notes: 2024"));
        QVERIFY(QDir().mkpath(notes));
        const ShellServices previous = ShellSeam::replace(
            {{}, {}, {}, [&](QWidget *, const QString &, const QString &) { return notes; }});
        {
            SaveLocationChooser chooser(TestOptions::store());
            chooser.browse();
            confirmAndWait(chooser);
            QCOMPARE(chooser.result(), int(QDialog::Accepted));
        }
        ShellSeam::replace(previous);
        QCOMPARE(TestOptions::store().options().DefaultSaveFolder, notes + u'/');
        QCOMPARE(ReadSetting(SectionSettings, SaveFolder.name, QString()), notes + u'/');
        QTRY_COMPARE(history(), notes.toUtf8() + "\r\n");
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("Notes 2024"))));

        // Below it, only what is still to be created is cleaned.
        QCOMPARE(CreateFolderChain(notes + QStringLiteral("/New: *sub?/x|y/")),
                 notes + QStringLiteral("/New sub/xy"));
        QVERIFY(QFileInfo(notes + QStringLiteral("/New sub/xy")).isDir());
        QVERIFY(recorder.messages.isEmpty());
    }

    void confirmingUnusableFolders()
    {
        fntest::MessageRecorder recorder;
        QVERIFY(confirmFolder(path(QStringLiteral("d/a/??*/b"))));
        QCOMPARE(recorder.texts(), QStringList{QStringLiteral("文件夹名称有误！不能创建文件夹！")});
        QCOMPARE(TestOptions::store().options().DefaultSaveFolder, path(QStringLiteral("d/a/")));
        QTRY_COMPARE(history(), path(QStringLiteral("d/a\r\n")).toUtf8());

        recorder.clear();
        fntest::writeFile(path(QStringLiteral("file")), "x");
        for (const QString &bad : {QStringLiteral("relative"), path(QStringLiteral("file"))}) {
            SaveLocationChooser chooser(TestOptions::store());
            chooser.folderBox()->setEditText(bad);
            confirmAndWait(chooser);
            QCOMPARE(chooser.result(), int(QDialog::Rejected)); // still open, may be corrected
            QCOMPARE(chooser.folderBox()->currentText(), QString());
        }
        QCOMPARE(recorder.texts(), (QStringList{QStringLiteral("文件夹设置错误！"),
                                                QStringLiteral("文件夹设置错误！\n不是文件夹")}));
        QCOMPARE(TestOptions::store().options().DefaultSaveFolder, path(QStringLiteral("d/a/")));
        QTRY_COMPARE(history(), path(QStringLiteral("d/a\r\n")).toUtf8());
    }

    // A folder that takes no file is refused at OK with the reason, not accepted to fail every row later.
    // Read-only and full file systems are real mounts (root only; skipped where mounting is not allowed).
    void okRefusesAFolderThatTakesNoFile()
    {
        const QString readOnly = path(QStringLiteral("ro"));
        const QString full = path(QStringLiteral("full"));
        QDir().mkpath(readOnly);
        QDir().mkpath(full);
        if (QProcess::execute(QStringLiteral("mount"),
                              {"-t", "tmpfs", "-o", "ro,size=64k", "tmpfs", readOnly}) != 0)
            QSKIP("mounting a read-only file system is not allowed here");
        auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {readOnly}); });
        fntest::MessageRecorder recorder;
        for (const QString &typed : {readOnly, readOnly + QStringLiteral("/new/deeper")}) {
            SaveLocationChooser chooser(TestOptions::store());
            chooser.folderBox()->setEditText(typed);
            confirmAndWait(chooser);
            QCOMPARE(chooser.result(), int(QDialog::Rejected));
        }
        QCOMPARE(recorder.texts(), (QStringList{QStringLiteral("文件夹设置错误！\n磁盘只读"),
                                                QStringLiteral("文件夹设置错误！\n不存在且无法创建")}));
        QVERIFY(QDir(readOnly).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());

        // A file system with no room left: the probe's byte does not fit.
        if (QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=16k", "tmpfs", full}) != 0)
            QSKIP("mounting a file system is not allowed here");
        auto unmountFull = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {full}); });
        QFile filler(full + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.close();
        recorder.clear();
        SaveLocationChooser chooser(TestOptions::store());
        chooser.folderBox()->setEditText(full);
        confirmAndWait(chooser);
        QCOMPARE(chooser.result(), int(QDialog::Rejected));
        QCOMPARE(recorder.texts(), QStringList{QStringLiteral("文件夹设置错误！\n磁盘空间不足")});
        QVERIFY(!TestOptions::store().options().DefaultSaveFolder.startsWith(full));
    }

    void okNeverAcceptsTheRootFolder_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("browseFirst"); // a cancelled browse before OK
        QTest::addColumn<int>("okPresses");
        QTest::addColumn<QStringList>("messages");
        const QString wrong = QStringLiteral("文件夹设置错误！");
        const QString badName = QStringLiteral("文件夹名称有误！不能创建文件夹！");
        QTest::newRow("an empty box: is it refused?") << "" << false << 1 << QStringList{wrong};
        QTest::newRow("a blank box: is it refused?") << "   " << false << 1 << QStringList{wrong};
        QTest::newRow("the root typed: is it refused?") << "/" << false << 1 << QStringList{wrong};
        QTest::newRow("OK again after a refused OK: is the emptied box refused too?")
            << "relative" << false << 2 << QStringList{wrong, wrong};
        QTest::newRow("a cancelled browse from an empty box: is its / refused?")
            << "" << true << 1 << QStringList{wrong};
        QTest::newRow("dots shielded by spaces: is the climb refused?")
            << "/ .. /" << false << 1 << QStringList{badName, wrong + QStringLiteral("\n不存在且无法创建")};
    }
    void okNeverAcceptsTheRootFolder()
    {
        QFETCH(QString, typed);
        QFETCH(bool, browseFirst);
        QFETCH(int, okPresses);
        QFETCH(QStringList, messages);
        const ShellServices previous = ShellSeam::replace(
            {{}, {}, {}, [](QWidget *, const QString &, const QString &) { return QString(); }});
        QVERIFY(confirmFolder(path(QStringLiteral("stored"))));
        fntest::MessageRecorder recorder;
        {
            SaveLocationChooser chooser(TestOptions::store());
            chooser.folderBox()->setEditText(typed);
            if (browseFirst)
                chooser.browse();
            for (int i = 0; i < okPresses; ++i) {
                confirmAndWait(chooser);
                QCOMPARE(chooser.result(), int(QDialog::Rejected)); // still open
            }
            QVERIFY(chooser.folderBox()->currentText().isEmpty());
        }
        ShellSeam::replace(previous);
        QCOMPARE(recorder.texts(), messages);
        QCOMPARE(recorder.messages.last().icon, MessageIcon::Critical);
        QCOMPARE(TestOptions::store().options().DefaultSaveFolder, path(QStringLiteral("stored/")));
        QCOMPARE(ReadSetting(SectionSettings, SaveFolder.name, QString()), path(QStringLiteral("stored/")));
        QTRY_COMPARE(history(), path(QStringLiteral("stored\r\n")).toUtf8());
    }

    void cancelKeepsTheStoredFolder()
    {
        // Before any folder was confirmed, a cancel leaves none: the proposed one was not chosen.
        {
            SaveLocationChooser chooser(TestOptions::store());
            chooser.reject();
        }
        QCOMPARE(TestOptions::store().options().DefaultSaveFolder, QString());

        QVERIFY(confirmFolder(path(QStringLiteral("kept"))));
        QTRY_COMPARE(history(), path(QStringLiteral("kept\r\n")).toUtf8());
        const QByteArray before = history();
        {
            SaveLocationChooser chooser(TestOptions::store());
            chooser.folderBox()->setEditText(path(QStringLiteral("typed-but-cancelled")));
            chooser.reject();
            QCOMPARE(chooser.result(), int(QDialog::Rejected));
        }
        QCOMPARE(TestOptions::store().options().DefaultSaveFolder, path(QStringLiteral("kept/")));
        QCOMPARE(ReadSetting(SectionSettings, SaveFolder.name, QString()), path(QStringLiteral("kept/")));
        QCOMPARE(history(), before);
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("typed-but-cancelled"))));

        // The close box counts as Cancel.
        SaveLocationChooser chooser(TestOptions::store());
        chooser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chooser));
        chooser.setResult(QDialog::Accepted);
        chooser.close();
        QCOMPARE(chooser.result(), int(QDialog::Rejected));
        QCOMPARE(TestOptions::store().options().DefaultSaveFolder, path(QStringLiteral("kept/")));
    }

    // OK's folder is made and probed on a worker: the window's thread makes no disk look for it, a
    // second OK while the answer is awaited changes nothing, and a close (or the window going) meanwhile
    // lets the answer go without a word.
    void okChecksTheFolderOnAWorker()
    {
        fntest::MessageRecorder recorder;
        const int before = diskLooksOnMainThread();
        {
            SaveLocationChooser chooser(TestOptions::store());
            chooser.folderBox()->setEditText(path(QStringLiteral("worker/new")));
            QSignalSpy answered(&chooser, &SaveLocationChooser::checkAnswered);
            chooser.confirm();
            chooser.confirm();
            QVERIFY(chooser.checking());
            QCOMPARE(chooser.result(), int(QDialog::Rejected)); // nothing is accepted before the answer
            QVERIFY(answered.wait(10000));
            QCOMPARE(chooser.result(), int(QDialog::Accepted));
            QTest::qWait(50);
            QCOMPARE(answered.count(), 1);
        }
        QCOMPARE(TestOptions::store().options().DefaultSaveFolder, path(QStringLiteral("worker/new/")));
        QTRY_COMPARE(history(), path(QStringLiteral("worker/new\r\n")).toUtf8());

        // A folder that cannot be made: refused with its reason when the answer is in.
        {
            SaveLocationChooser chooser(TestOptions::store());
            chooser.folderBox()->setEditText(QStringLiteral("/proc/folionexus-nowhere/x"));
            confirmAndWait(chooser);
            QCOMPARE(chooser.result(), int(QDialog::Rejected));
            QVERIFY(chooser.folderBox()->currentText().isEmpty());
        }
        QCOMPARE(recorder.texts(), QStringList{QStringLiteral("文件夹设置错误！\n不存在且无法创建")});

        // Closed, or gone, before the answer: nothing is stored, said or recorded.
        recorder.clear();
        {
            SaveLocationChooser chooser(TestOptions::store());
            chooser.folderBox()->setEditText(path(QStringLiteral("closed")));
            chooser.confirm();
            chooser.reject();
            QTRY_VERIFY(QFileInfo(path(QStringLiteral("closed"))).isDir()); // the worker finished its part
            QTest::qWait(50);
            QCOMPARE(chooser.result(), int(QDialog::Rejected));
        }
        auto *gone = new SaveLocationChooser(TestOptions::store());
        gone->folderBox()->setEditText(path(QStringLiteral("gone")));
        gone->confirm();
        delete gone;
        QTRY_VERIFY(QFileInfo(path(QStringLiteral("gone"))).isDir());
        QTest::qWait(50);
        QVERIFY(recorder.messages.isEmpty());
        QCOMPARE(TestOptions::store().options().DefaultSaveFolder, path(QStringLiteral("worker/new/")));
        QCOMPARE(history(), path(QStringLiteral("worker/new\r\n")).toUtf8());
        QCOMPARE(diskLooksOnMainThread(), before);
    }

    void namingChoice()
    {
        TestOptions::edit().UseOriginalFileName = true;
        SaveLocationChooser chooser(TestOptions::store());
        auto *original = chooser.findChild<QRadioButton *>(QStringLiteral("originalNameOption"));
        auto *title = chooser.findChild<QRadioButton *>(QStringLiteral("titleNameOption"));
        QVERIFY(original->isChecked());
        title->setChecked(true);
        chooser.reject();
        QVERIFY(TestOptions::store().options().UseOriginalFileName); // Cancel sets nothing but the flag

        SaveLocationChooser again(TestOptions::store());
        again.findChild<QRadioButton *>(QStringLiteral("titleNameOption"))->setChecked(true);
        again.folderBox()->setEditText(path(QStringLiteral("n")));
        confirmAndWait(again);
        QVERIFY(!TestOptions::store().options().UseOriginalFileName);
        SaveLocationChooser third(TestOptions::store());
        QVERIFY(third.findChild<QRadioButton *>(QStringLiteral("titleNameOption"))->isChecked());
    }

    void browsingReplacesTheText()
    {
        QString answer;
        QStringList asked;
        const ShellServices previous =
            ShellSeam::replace({{}, {}, {}, [&](QWidget *, const QString &title, const QString &start) {
                                    asked << title << start;
                                    return answer;
                                }});
        QVERIFY(QDir().mkpath(path(QStringLiteral("p/2014"))));
        SaveLocationChooser chooser(TestOptions::store());
        chooser.folderBox()->setEditText(path(QStringLiteral("p/2014")));
        chooser.browse(); // cancelled
        QCOMPARE(chooser.folderBox()->currentText(), path(QStringLiteral("p/2014/")));
        QCOMPARE(asked, (QStringList{QStringLiteral("请选择要浏览的文件夹:"), path(QStringLiteral("p/"))}));
        answer = path(QStringLiteral("chosen"));
        chooser.browse();
        QCOMPARE(chooser.folderBox()->currentText(), path(QStringLiteral("chosen/")));
        ShellSeam::replace(previous);
    }

    void modalRunAnswersTheCaller()
    {
        WriteSetting(SectionSettings, SaveFolder.name, path(QStringLiteral("modal")) + u'/');
        QTimer::singleShot(0, this, [] {
            QWidget *w = QApplication::activeModalWidget();
            QVERIFY(w && w->objectName() == QStringLiteral("fSeleFileSavePath"));
            w->findChild<QPushButton *>(QStringLiteral("okButton"))->click();
        });
        QVERIFY(runSaveLocationChooser(nullptr, TestOptions::store()));
        QCOMPARE(TestOptions::store().options().DefaultSaveFolder, path(QStringLiteral("modal/")));

        QTimer::singleShot(0, this, [] {
            QApplication::activeModalWidget()
                ->findChild<QPushButton *>(QStringLiteral("cancelButton"))
                ->click();
        });
        QVERIFY(!runSaveLocationChooser(nullptr, TestOptions::store()));
    }

    void dropDownWidth()
    {
        QWidget window;
        window.move(0, 0);
        auto *box = new QComboBox(&window);
        box->resize(80, 24);
        box->addItems({QStringLiteral("/short"), QStringLiteral("/a much longer folder name"),
                       QStringLiteral("/a much longer folder nam2")});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        FitDropDownWidth(box);
        const int longest =
            box->fontMetrics().horizontalAdvance(QStringLiteral("/a much longer folder name"));
        QCOMPARE(box->view()->minimumWidth(), longest + 7);
        QCOMPARE(box->width(), 80); // the closed control keeps its size

        for (int i = 0; i < 6; ++i)
            box->addItem(QStringLiteral("/x"));
        FitDropDownWidth(box);
        QCOMPARE(box->view()->minimumWidth(),
                 longest + 7 + box->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, box));

        box->addItem(QString(2000, u'w'));
        FitDropDownWidth(box);
        const int room = box->screen()->geometry().right() + 1 - box->mapToGlobal(QPoint(0, 0)).x();
        QCOMPARE(box->view()->minimumWidth(), room);
    }
};

FN_TEST_MAIN_GUI(TestSaveLocation)
#include "tst_savelocation.moc"
