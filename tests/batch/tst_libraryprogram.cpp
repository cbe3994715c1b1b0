#include "../core/library/libraryfixture.h"
#include "core/library/paperlibrary.h"
#include "testpdf.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

using namespace fntest;

// folionexus --library run as a user runs it: the program itself, on the library in the user's folder.
class TestLibraryProgram : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;

    struct Ran
    {
        int status = -1;
        QString out;
        QString err;
    };

    Ran run(const QStringList &arguments)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_home.path());
        env.insert("XDG_DATA_HOME", m_home.path() + "/data");
        env.insert("XDG_CONFIG_HOME", m_home.path() + "/config");
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(FOLIONEXUS_EXE), arguments);
        if (!process.waitForFinished(60000))
            process.kill();
        return Ran{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                   QString::fromUtf8(process.readAllStandardOutput()),
                   QString::fromUtf8(process.readAllStandardError())};
    }

private Q_SLOTS:
    void theProgramAnswersForTheUsersLibrary()
    {
        QVERIFY(m_home.isValid());
        const QString whole = m_home.path() + "/papers/whole.pdf";
        const QString gone = m_home.path() + "/papers/gone.pdf";
        QDir().mkpath(m_home.path() + "/papers");
        fntest::writeFile(whole, wholePdf());
        fntest::writeFile(gone, wholePdf(5000));
        {
            PaperLibrary library(m_home.path() +
                                 "/data/Folionexus/墨枢Folionexus文献资料下载管理器/PaperLibrary.db");
            QVERIFY(library.open().ok);
            QVERIFY(library.recordSeen(
                {seenPaper("http://s/1", "Whole one"), seenPaper("http://s/2", "Gone one")}));
            QVERIFY(library.recordDownloads({doneAt("http://s/1", whole), doneAt("http://s/2", gone)}));
        }
        Ran ran = run({"--library", "check"});
        QCOMPARE(ran.status, 0);
        QVERIFY(QFile::remove(gone));
        ran = run({"--library", "check"});
        QCOMPARE(ran.status, 2);
        QCOMPARE(ran.out, QStringLiteral("missing\t%1\tGone one\n").arg(gone));

        ran = run({"--library", "list", "--json"});
        QCOMPARE(ran.status, 0);
        const QJsonArray papers = QJsonDocument::fromJson(ran.out.toUtf8()).array();
        QCOMPARE(papers.size(), 2);
        QCOMPARE(papers.at(0).toObject().value("state").toString(),
                 QStringLiteral("missing")); // "Gone one" first

        ran = run({"--library", "tidy"});
        QCOMPARE(ran.status, 1);
        QVERIFY(ran.err.contains("usage: folionexus --library"));
    }
};

FN_TEST_MAIN_CORE(TestLibraryProgram)
#include "tst_libraryprogram.moc"
