// A batch run and its manifest on a disk that may fail it, through the real program: the manifest is on
// disk while the run goes on, and when the folder's disk is full it is written to the per-user data folder,
// named with the system's reason, and a later run resumes from it by its path.
#include "faultserver.h"
#include "testenv.h"
#include "tmpfsmount.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

namespace {

struct RunResult
{
    int exitCode = -1;
    QString err;
};

// Manifest rows without the header (no field holds a comma in these runs).
QList<QStringList> manifestRows(const QString &path)
{
    QList<QStringList> rows;
    const QStringList lines = QString::fromUtf8(fntest::readFile(path)).split(QStringLiteral("\r\n"));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (!lines.at(i).isEmpty())
            rows.append(lines.at(i).split(u','));
    }
    return rows;
}

} // namespace

class TestBatchDisk : public QObject
{
    Q_OBJECT

    FaultServer m_site;
    std::unique_ptr<QTemporaryDir> m_work;

    QString path(const QString &name) const { return m_work->filePath(name); }
    QString home() const { return path(QStringLiteral("home")); }

    QProcess *launch(const QStringList &arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home());
        env.insert(QStringLiteral("XDG_DATA_HOME"), home() + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home() + QStringLiteral("/cache"));
        auto *process = new QProcess(this);
        process->setProcessEnvironment(env);
        process->start(QStringLiteral(FOLIONEXUS_EXE),
                       QStringList{QStringLiteral("--batch"), QStringLiteral("--no-library")} + arguments);
        return process;
    }

    static RunResult finish(QProcess *process)
    {
        RunResult result;
        // The server answers from this thread: the process is waited for with the event loop running.
        if (!QTest::qWaitFor([&] { return process->state() == QProcess::NotRunning; }, 120000))
            process->kill();
        process->waitForFinished();
        result.exitCode = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
        result.err = QString::fromUtf8(process->readAllStandardError());
        process->deleteLater();
        return result;
    }

    QString linkList(const QStringList &paths)
    {
        QByteArray text;
        for (const QString &p : paths)
            text += m_site.url(p).toEncoded() + '\n';
        fntest::writeFile(path(QStringLiteral("links.txt")), text);
        return path(QStringLiteral("links.txt"));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_site.listen());
        m_site.setReply(QStringLiteral("/1.pdf"), FaultServer::pdf(3000, '1'));
        m_site.setReply(QStringLiteral("/2.pdf"), FaultServer::pdf(5000, '2'));
    }

    void init()
    {
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(m_work->isValid());
        QDir().mkpath(home());
    }

    void theManifestIsOnDiskWhileTheRunGoesOn()
    {
        FaultServer::Reply never;
        never.noAnswer = true;
        m_site.setReply(QStringLiteral("/slow.pdf"), never);
        const QString out = path(QStringLiteral("out"));
        QProcess *process =
            launch({QStringLiteral("--input"), linkList({"/1.pdf", "/slow.pdf"}), QStringLiteral("--out"),
                    out, QStringLiteral("--retries"), QStringLiteral("0")});
        // The first paper is in and the second still awaited: the manifest says so already.
        const QString manifest = out + QStringLiteral("/manifest.csv");
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(manifest) && manifestRows(manifest).size() == 2 &&
                                     manifestRows(manifest).at(0).at(3) == QStringLiteral("Done"),
                                 60000);
        QCOMPARE(process->state(), QProcess::Running);
        QCOMPARE(manifestRows(manifest).at(1).at(3), QStringLiteral("Downloading"));
        m_site.releaseAll();
        const RunResult r = finish(process);
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(manifestRows(manifest).at(1).at(3), QStringLiteral("Failed"));
        QCOMPARE(QDir(out).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden), QStringList{});
    }

    void aFullDiskSendsTheManifestToTheDataFolderAndItResumes()
    {
        fntest::TmpfsMount disk(path(QStringLiteral("disk")), "128k");
        if (!disk.isMounted())
            QSKIP(qPrintable(disk.why()));
        QVERIFY(disk.fill());
        const QString list = linkList({"/1.pdf", "/2.pdf"});
        const RunResult full =
            finish(launch({QStringLiteral("--input"), list, QStringLiteral("--out"), disk.folder()}));
        QCOMPARE(full.exitCode, 2);
        const QString noSpace = QString::fromLocal8Bit(std::strerror(ENOSPC));
        QVERIFY2(full.err.contains(QStringLiteral("the manifest %1/manifest.csv could not be written: %2")
                                       .arg(disk.folder(), noSpace)),
                 qPrintable(full.err));
        QVERIFY2(!full.err.contains(QStringLiteral("Unknown error")), qPrintable(full.err));
        const QRegularExpressionMatch named =
            QRegularExpression(QStringLiteral("it is written to (\\S+) instead")).match(full.err);
        QVERIFY2(named.hasMatch(), qPrintable(full.err));
        const QString kept = named.captured(1);
        QVERIFY2(kept.startsWith(home() + QStringLiteral("/data/")), qPrintable(kept));
        QCOMPARE(manifestRows(kept).size(), 2);

        // Room again: the run resumes from the manifest named, into the folder of the papers.
        QVERIFY(QFile::remove(disk.folder() + QStringLiteral("/filler")));
        const RunResult resumed =
            finish(launch({QStringLiteral("--resume"), kept, QStringLiteral("--out"), disk.folder()}));
        QCOMPARE(resumed.exitCode, 0);
        QCOMPARE(fntest::readFile(disk.folder() + QStringLiteral("/1.pdf")),
                 FaultServer::pdf(3000, '1').body);
        QCOMPARE(fntest::readFile(disk.folder() + QStringLiteral("/2.pdf")),
                 FaultServer::pdf(5000, '2').body);
        const QList<QStringList> rows = manifestRows(disk.folder() + QStringLiteral("/manifest.csv"));
        QCOMPARE(rows.size(), 2);
        for (const QStringList &row : rows)
            QCOMPARE(row.at(3), QStringLiteral("Done"));
    }
};

FN_TEST_MAIN_CORE(TestBatchDisk)
#include "tst_batchdisk.moc"
