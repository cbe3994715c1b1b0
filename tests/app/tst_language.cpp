#include "app/qtlanguage.h"
#include "testenv.h"
#include "ui/searchdialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>

// Qt's own dialogs speak the program's language, and the terminal stays quiet.
class TestLanguage : public QObject
{
    Q_OBJECT

    QList<QTranslator *> m_installed;

    void uninstall()
    {
        for (QTranslator *translator : std::as_const(m_installed)) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
        m_installed.clear();
    }

    static QString buttonText(QMessageBox::StandardButton which)
    {
        QMessageBox box(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("q"),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel);
        return box.button(which)->text();
    }

private Q_SLOTS:
    void cleanup() { uninstall(); }

    void standardButtonsSpeakChinese_data()
    {
        QTest::addColumn<QLocale>("system");
        QTest::addColumn<QString>("ok");
        QTest::newRow("an English system: simplified Chinese")
            << QLocale(QLocale::English, QLocale::UnitedStates) << QStringLiteral("确定");
        QTest::newRow("a Taiwanese system keeps its script")
            << QLocale(QLocale::Chinese, QLocale::Taiwan) << QStringLiteral("確定");
    }

    void standardButtonsSpeakChinese()
    {
        QFETCH(QLocale, system);
        QFETCH(QString, ok);
        QCOMPARE(buttonText(QMessageBox::Yes), QStringLiteral("&Yes"));
        m_installed = installQtTranslations(system);
        QCOMPARE(buttonText(QMessageBox::Yes), QStringLiteral("是(&Y)"));
        QCOMPARE(buttonText(QMessageBox::No), QStringLiteral("否(&N)"));
        QCOMPARE(buttonText(QMessageBox::Cancel), QStringLiteral("取消"));
        QCOMPARE(buttonText(QMessageBox::Ok), ok);
    }

    void exportDialogOpensInTheHomeFolderInChinese()
    {
        m_installed = installQtTranslations(QLocale(QLocale::English, QLocale::UnitedKingdom));
        QString folder;
        QStringList labels;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            folder = dialog->directory().absolutePath();
            for (const QLabel *label : dialog->findChildren<QLabel *>())
                labels << label->text();
            dialog->reject();
        });
        QCOMPARE(searchdialogs::saveFileDialog(nullptr, QString()), QString());
        QCOMPARE(folder, QDir::homePath());
        QVERIFY2(labels.contains(QStringLiteral("文件名称(&N)：")), qPrintable(labels.join(u'|')));
    }

    void browserEngineReportStaysQuietUnlessAsked_data()
    {
        QTest::addColumn<QByteArray>("rules");
        QTest::addColumn<QByteArray>("infoShown");
        QTest::newRow("no rule of the user") << QByteArray() << QByteArray("0");
        QTest::newRow("the user asks for it")
            << QByteArray("qt.webenginecontext.info=true") << QByteArray("1");
    }

    void browserEngineReportStaysQuietUnlessAsked()
    {
        QFETCH(QByteArray, rules);
        QFETCH(QByteArray, infoShown);
        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        env.remove(QStringLiteral("QT_LOGGING_CONF"));
        if (!rules.isEmpty())
            env.insert(QStringLiteral("QT_LOGGING_RULES"), QString::fromLatin1(rules));
        probe.setProcessEnvironment(env);
        probe.start(QStringLiteral(FN_LOG_RULE_PROBE), {});
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.exitCode(), 0);
        QCOMPARE(probe.readAllStandardOutput().trimmed(), infoShown);
    }
};

FN_TEST_MAIN_GUI(TestLanguage)
#include "tst_language.moc"
