#include "core/settings/settingsstore.h"
#include "core/settings/sharedoptions.h"
#include "testenv.h"
#include "testoptions.h"
#include "ui/optionswindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTimer>

using namespace settingkeys;

namespace {

struct Controls
{
    explicit Controls(QWidget *w)
        : methodOne(w->findChild<QRadioButton *>(QStringLiteral("methodOneOption"))),
          methodTwo(w->findChild<QRadioButton *>(QStringLiteral("methodTwoOption"))),
          proxy(w->findChild<QCheckBox *>(QStringLiteral("proxyCheck"))),
          address(w->findChild<QLineEdit *>(QStringLiteral("proxyAddressBox"))),
          port(w->findChild<QLineEdit *>(QStringLiteral("proxyPortBox"))),
          prompt(w->findChild<QCheckBox *>(QStringLiteral("promptSavePathCheck"))),
          retries(w->findChild<QSpinBox *>(QStringLiteral("retriesSpin")))
    {
    }
    QRadioButton *methodOne;
    QRadioButton *methodTwo;
    QCheckBox *proxy;
    QLineEdit *address;
    QLineEdit *port;
    QCheckBox *prompt;
    QSpinBox *retries;
};

QString stored(const SettingKey &key)
{
    return ReadSetting(key.section, key.name, QStringLiteral("<unset>"));
}

} // namespace

class TestOptionsWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        QFile::remove(SettingsFilePath());
        TestOptions::edit() = SharedOptions();
        TestOptions::store().loadFromStore();
    }

    void showsTheValuesReadAtStart()
    {
        OptionsWindow fresh(TestOptions::store());
        QCOMPARE(fresh.objectName(), QStringLiteral("fOption"));
        QCOMPARE(fresh.windowTitle(), QStringLiteral("设置"));
        Controls c(&fresh);
        QVERIFY(c.methodTwo->isChecked()); // a fresh profile downloads with several connections
        QVERIFY(!c.proxy->isChecked());
        QVERIFY(c.prompt->isChecked());

        // A stored method other than 1 downloads in parallel, and the window says so.
        WriteSetting(SectionSettings, settingkeys::DownloadMethod.name, QStringLiteral("7"));
        TestOptions::store().loadFromStore();
        TestOptions::edit().ProxyEnabled = true;
        TestOptions::edit().ProxyAddress = QStringLiteral("proxy.lan");
        TestOptions::edit().ProxyPort = QStringLiteral("3128");
        TestOptions::edit().PromptSavePathOnExtract = false;
        OptionsWindow odd(TestOptions::store());
        Controls o(&odd);
        QVERIFY(o.methodTwo->isChecked());
        QVERIFY(o.proxy->isChecked());
        QCOMPARE(o.address->text(), QStringLiteral("proxy.lan"));
        QCOMPARE(o.port->text(), QStringLiteral("3128"));
        QVERIFY(!o.prompt->isChecked());
    }

    // A port is typed as a number from 1 to 65535, or not at all.
    void thePortTakesOnlyAPort()
    {
        OptionsWindow w(TestOptions::store());
        auto *port = w.findChild<QLineEdit *>(QStringLiteral("proxyPortBox"));
        QVERIFY(port && port->validator());
        port->clear();
        QTest::keyClicks(port, QStringLiteral("99999x"));
        QVERIFY2(port->text() == QStringLiteral("9999"), qPrintable(port->text()));
        port->clear();
        QTest::keyClicks(port, QStringLiteral("8080"));
        QCOMPARE(port->text(), QStringLiteral("8080"));
        port->clear();
        QTest::keyClicks(port, QStringLiteral("0"));
        QVERIFY(!port->hasAcceptableInput());
    }

    // The preview follows the template as it is typed and says when it gives no name at all.
    void theTemplateShowsTheNameItGives()
    {
        OptionsWindow w(TestOptions::store());
        auto *box = w.findChild<QLineEdit *>(QStringLiteral("fileNameTemplateBox"));
        auto *preview = w.findChild<QLabel *>(QStringLiteral("fileNameTemplatePreview"));
        QVERIFY(box && preview);
        QCOMPARE(preview->text(), QStringLiteral("示例：深度学习在文献检索中的应用.pdf"));
        const QString unknownNote =
            QStringLiteral("注意：“{期号}”不是内置字段，只在结果页表格有此列时才有值，否则略去");
        const QList<std::pair<QString, QString>> cases = {
            {QStringLiteral("{年份}-{作者}-{标题}"),
             QStringLiteral("示例：2021-张伟; 王芳-深度学习在文献检索中的应用.pdf")},
            // A field the program does not know is named with the reason it may stay empty.
            {QStringLiteral("{年份}-{期号}-{来源}"),
             QStringLiteral("示例：2021-情报学报.pdf\n") + unknownNote},
            {QStringLiteral("   "), QStringLiteral("示例：深度学习在文献检索中的应用.pdf")},
            {QStringLiteral("{期号}"), QStringLiteral("模板不能生成文件名\n") + unknownNote},
            // A brace left open is marked where it stands, and its text is taken as it is.
            {QStringLiteral("{标题}{年"),
             QStringLiteral("示例：深度学习在文献检索中的应用{年.pdf\n注意：第 5 个字符的“{”没有对应的“}”，"
                            "其后的文字按原样写入文件名")},
            {QStringLiteral("{DOI}{Title}"),
             QStringLiteral(
                 "模板不能生成文件名\n注意：“{Title}”不是内置字段，只在结果页表格有此列时才有值，否则略去")},
            {QStringLiteral("///"), QStringLiteral("模板不能生成文件名")},
            {QStringLiteral("{{}}"), QStringLiteral("示例：{}.pdf")},
        };
        for (const auto &[typed, shown] : cases) {
            box->selectAll();
            box->insert(typed); // as typed or pasted
            QCOMPARE(preview->text(), shown);
        }
    }

    void okStoresEveryValue()
    {
        fntest::MessageRecorder recorder;
        OptionsWindow w(TestOptions::store());
        Controls c(&w);
        c.methodOne->setChecked(true);
        c.proxy->setChecked(true);
        c.address->setText(QStringLiteral("  proxy.lan "));
        c.port->setText(QStringLiteral(" 8080  "));
        c.prompt->setChecked(false);
        w.confirm();
        QCOMPARE(w.result(), int(QDialog::Accepted));
        QVERIFY(recorder.messages.isEmpty());

        const SharedOptions &o = TestOptions::store().options();
        QCOMPARE(o.DownloadMethod, ::DownloadMethod::Single);
        QCOMPARE(o.ProxyEnabled, true);
        QCOMPARE(o.ProxyAddress, QStringLiteral("proxy.lan"));
        QCOMPARE(o.ProxyPort, QStringLiteral("8080"));
        QCOMPARE(o.PromptSavePathOnExtract, false);
        QCOMPARE(stored(settingkeys::DownloadMethod), QStringLiteral("1"));
        QCOMPARE(stored(ProxyEnabled), QStringLiteral("1"));
        QCOMPARE(stored(ProxyAddress), QStringLiteral("proxy.lan"));
        QCOMPARE(stored(ProxyPort), QStringLiteral("8080"));
        QCOMPARE(stored(PromptSavePath), QStringLiteral("0"));

        // The next run reads back what was confirmed.
        TestOptions::edit() = SharedOptions();
        TestOptions::store().loadFromStore();
        OptionsWindow next(TestOptions::store());
        Controls n(&next);
        QVERIFY(n.methodOne->isChecked() && n.proxy->isChecked() && !n.prompt->isChecked());
        QCOMPARE(n.address->text(), QStringLiteral("proxy.lan"));
    }

    void retryCountIsEditedAndStored()
    {
        WriteSetting(SectionDownload, Retries.name, QStringLiteral("6"));
        TestOptions::store().loadFromStore();
        OptionsWindow w(TestOptions::store());
        Controls c(&w);
        QVERIFY(c.retries);
        QCOMPARE(c.retries->value(), 6);
        QCOMPARE(c.retries->minimum(), 0);
        QCOMPARE(c.retries->maximum(), 20);
        // The box's label names the option.
        bool labelled = false;
        for (const QLabel *label : w.findChildren<QLabel *>())
            labelled = labelled || label->text() == QStringLiteral("失败自动重试次数");
        QVERIFY(labelled);

        c.retries->setValue(0);
        w.confirm();
        QCOMPARE(TestOptions::store().options().Retries, 0);
        QCOMPARE(ReadSetting(SectionDownload, Retries.name, Retries.defaultText), QStringLiteral("0"));

        // Closing without OK keeps the stored count.
        OptionsWindow again(TestOptions::store());
        Controls a(&again);
        QCOMPARE(a.retries->value(), 0);
        a.retries->setValue(9);
        again.reject();
        QCOMPARE(TestOptions::store().options().Retries, 0);
        QCOMPARE(ReadSetting(SectionDownload, Retries.name, Retries.defaultText), QStringLiteral("0"));
    }

    void fileNameTemplateIsShownAndStored()
    {
        OptionsWindow w(TestOptions::store());
        auto *box = w.findChild<QLineEdit *>(QStringLiteral("fileNameTemplateBox"));
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("{标题}")); // the title alone, as names were before
        QVERIFY(w.findChild<QLabel *>(QStringLiteral("fileNameTemplateHint"))
                    ->text()
                    .contains(QStringLiteral("{作者}")));
        box->setText(QStringLiteral(" {年份}-{作者}-{标题} "));
        w.confirm();
        QCOMPARE(TestOptions::store().options().FileNameTemplate, QStringLiteral("{年份}-{作者}-{标题}"));
        QCOMPARE(stored(settingkeys::FileNameTemplate), QStringLiteral("{年份}-{作者}-{标题}"));
        TestOptions::edit() = SharedOptions();
        TestOptions::store().loadFromStore();
        QCOMPARE(TestOptions::store().options().FileNameTemplate, QStringLiteral("{年份}-{作者}-{标题}"));

        // An emptied box stores the empty text, which stands for the default.
        OptionsWindow again(TestOptions::store());
        again.findChild<QLineEdit *>(QStringLiteral("fileNameTemplateBox"))->clear();
        again.confirm();
        QCOMPARE(stored(settingkeys::FileNameTemplate), QString());
        QCOMPARE(TestOptions::store().options().FileNameTemplate, QStringLiteral("{标题}"));
        TestOptions::store().loadFromStore();
        QCOMPARE(TestOptions::store().options().FileNameTemplate, QStringLiteral("{标题}"));
    }

    void proxyCheck_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("refused"); // the box the window waits on; empty: OK takes the values
        const QString addressBox = QStringLiteral("proxyAddressBox");
        const QString portBox = QStringLiteral("proxyPortBox");
        QTest::newRow("ticked, empty address") << true << ""
                                               << "80" << addressBox;
        QTest::newRow("ticked, blank address, bad port") << true << "   "
                                                         << "x" << addressBox;
        QTest::newRow("ticked, port with letters") << true << "proxy"
                                                   << "80a" << portBox;
        QTest::newRow("ticked, empty port") << true << "proxy"
                                            << "" << portBox;
        // The transfer would go to port 80 instead of these.
        QTest::newRow("ticked, port beyond the last") << true << "proxy"
                                                      << "65536" << portBox;
        QTest::newRow("ticked, port 0") << true << "proxy"
                                        << "0" << portBox;
        QTest::newRow("ticked, port with a fraction") << true << "proxy"
                                                      << "8080.5" << portBox;
        QTest::newRow("ticked, both fine") << true << " 10.0.0.1 "
                                           << " 65535 " << QString();
        QTest::newRow("unticked, empty address") << false << ""
                                                 << "" << QString();
        QTest::newRow("unticked, port with letters") << false << "proxy"
                                                     << "80a" << QString();
    }

    // A refused value is never stored: the window stays open on the box to mend, and what was stored
    // before (here a working proxy and method two) stays in force, the other changes of the window too.
    void proxyCheck()
    {
        QFETCH(bool, enabled);
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(QString, refused);
        TestOptions::store().storeProxy(true, QStringLiteral("old.lan"), QStringLiteral("3128"));
        TestOptions::store().storeDownloadMethod(::DownloadMethod::Parallel);
        fntest::MessageRecorder recorder;
        OptionsWindow w(TestOptions::store());
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        Controls c(&w);
        c.methodOne->setChecked(true);
        c.proxy->setChecked(enabled);
        c.address->setText(address);
        c.port->setText(port);
        c.prompt->setChecked(false);
        c.retries->setValue(7);
        w.findChild<QPushButton *>(QStringLiteral("okButton"))->click();
        if (refused.isEmpty()) {
            QVERIFY(recorder.messages.isEmpty());
            QCOMPARE(w.result(), int(QDialog::Accepted));
            QCOMPARE(stored(ProxyAddress), address.trimmed());
            QCOMPARE(stored(ProxyPort), port.trimmed());
            QCOMPARE(stored(ProxyEnabled), enabled ? QStringLiteral("1") : QStringLiteral("0"));
            QCOMPARE(stored(settingkeys::DownloadMethod), QStringLiteral("1"));
            return;
        }
        QCOMPARE(recorder.texts(), QStringList{QStringLiteral("代理服务器网址或者端口格式不对！")});
        QCOMPARE(recorder.messages.first().icon, MessageIcon::Critical);
        QVERIFY(w.isVisible());
        QCOMPARE(w.result(), int(QDialog::Rejected));
        QTRY_COMPARE(QApplication::focusWidget(), w.findChild<QLineEdit *>(refused));
        const QList<std::pair<const SettingKey *, QString>> before = {
            {&ProxyEnabled, "1"},         {&ProxyAddress, "old.lan"},
            {&ProxyPort, "3128"},         {&settingkeys::DownloadMethod, "2"},
            {&PromptSavePath, "<unset>"}, {&Retries, "<unset>"}};
        for (const auto &[key, value] : before)
            QCOMPARE(stored(*key), value);
        const SharedOptions &o = TestOptions::store().options();
        QVERIFY(o.ProxyEnabled && o.DownloadMethod == ::DownloadMethod::Parallel &&
                o.PromptSavePathOnExtract);
        QCOMPARE(o.ProxyAddress, QStringLiteral("old.lan"));
        QCOMPARE(o.ProxyPort, QStringLiteral("3128"));
        QCOMPARE(o.Retries, SharedOptions().Retries);

        // Mended, the same OK takes every value of the window.
        c.address->setText(QStringLiteral("new.lan"));
        c.port->setText(QStringLiteral("8080"));
        w.findChild<QPushButton *>(QStringLiteral("okButton"))->click();
        QCOMPARE(w.result(), int(QDialog::Accepted));
        QCOMPARE(recorder.messages.size(), 1);
        QCOMPARE(stored(ProxyAddress), QStringLiteral("new.lan"));
        QCOMPARE(stored(ProxyPort), QStringLiteral("8080"));
        QCOMPARE(stored(settingkeys::DownloadMethod), QStringLiteral("1"));
        QCOMPARE(stored(Retries), QStringLiteral("7"));
    }

    // Opened as the menu opens it: a refused OK leaves the window open, 关闭 then keeps what was stored,
    // and the next opening shows it, not the values refused.
    void aRefusedProxyNeverComesBack()
    {
        TestOptions::store().storeProxy(true, QStringLiteral("old.lan"), QStringLiteral("3128"));
        fntest::MessageRecorder recorder;
        bool stayedOpen = false;
        QTimer::singleShot(0, this, [&] {
            QWidget *w = QApplication::activeModalWidget();
            QVERIFY(w && w->objectName() == QStringLiteral("fOption"));
            w->findChild<QLineEdit *>(QStringLiteral("proxyPortBox"))->setText(QStringLiteral("31 28"));
            w->findChild<QPushButton *>(QStringLiteral("okButton"))->click();
            stayedOpen = QApplication::activeModalWidget() == w && w->isVisible();
            w->findChild<QPushButton *>(QStringLiteral("closeButton"))->click();
        });
        QVERIFY(!showOptionsWindow(nullptr, TestOptions::store()));
        QVERIFY(stayedOpen);
        QVERIFY(recorder.saw(QStringLiteral("代理服务器网址或者端口格式不对！")));
        QCOMPARE(stored(ProxyPort), QStringLiteral("3128"));
        TestOptions::store().loadFromStore();
        OptionsWindow next(TestOptions::store());
        QCOMPARE(Controls(&next).port->text(), QStringLiteral("3128"));
        QCOMPARE(Controls(&next).address->text(), QStringLiteral("old.lan"));
    }

    void closeChangesNothing()
    {
        const SharedOptions before = TestOptions::store().options();
        OptionsWindow w(TestOptions::store());
        Controls c(&w);
        c.methodOne->setChecked(true);
        c.proxy->setChecked(true);
        c.address->setText(QStringLiteral("edited"));
        c.prompt->setChecked(false);
        w.findChild<QPushButton *>(QStringLiteral("closeButton"))->click();
        QCOMPARE(w.result(), int(QDialog::Rejected));
        QCOMPARE(TestOptions::store().options().DownloadMethod, before.DownloadMethod);
        QCOMPARE(TestOptions::store().options().ProxyAddress, before.ProxyAddress);
        QCOMPARE(TestOptions::store().options().PromptSavePathOnExtract, before.PromptSavePathOnExtract);
        QCOMPARE(stored(settingkeys::DownloadMethod), QStringLiteral("<unset>"));
        QCOMPARE(stored(ProxyAddress), QStringLiteral("<unset>"));
    }

    void okHandsBackTheMethodAndWhetherItChanged()
    {
        const auto confirmWith = [](QRadioButton *(Controls::*option)) {
            OptionsWindow w(TestOptions::store());
            QSignalSpy confirmed(&w, &OptionsWindow::confirmed);
            (Controls(&w).*option)->setChecked(true);
            w.confirm();
            return confirmed.size() == 1 ? confirmed.first() : QList<QVariant>();
        };
        const QList<QVariant> single = confirmWith(&Controls::methodOne);
        QCOMPARE(single.size(), 2);
        QCOMPARE(single.at(0).value<SharedOptions>().DownloadMethod, ::DownloadMethod::Single);
        QVERIFY(single.at(1).toBool());
        QCOMPARE(stored(settingkeys::DownloadMethod), QStringLiteral("1"));

        const QList<QVariant> parallel = confirmWith(&Controls::methodTwo);
        QCOMPARE(parallel.value(0).value<SharedOptions>().DownloadMethod, ::DownloadMethod::Parallel);
        QVERIFY(parallel.value(1).toBool());
        QCOMPARE(stored(settingkeys::DownloadMethod), QStringLiteral("2"));

        // A confirmation that keeps the method says so: the download window keeps the user's count.
        const QList<QVariant> again = confirmWith(&Controls::methodTwo);
        QCOMPARE(again.value(0).value<SharedOptions>().DownloadMethod, ::DownloadMethod::Parallel);
        QVERIFY(!again.value(1).toBool());

        // A refused proxy hands nothing back.
        OptionsWindow refused(TestOptions::store());
        QSignalSpy confirmed(&refused, &OptionsWindow::confirmed);
        Controls(&refused).proxy->setChecked(true);
        Controls(&refused).address->clear();
        fntest::MessageRecorder recorder;
        refused.confirm();
        QVERIFY(confirmed.isEmpty());
    }

    void methodWithoutDownloadWindow()
    {
        QWidget other; // another window with controls of the same names is not touched
        auto *label = new QLabel(QStringLiteral("x"), &other);
        label->setObjectName(QStringLiteral("Label7"));
        OptionsWindow w(TestOptions::store());
        Controls(&w).methodOne->setChecked(true);
        w.confirm();
        QCOMPARE(label->text(), QStringLiteral("x"));
        QCOMPARE(TestOptions::store().options().DownloadMethod, ::DownloadMethod::Single);
        QCOMPARE(stored(settingkeys::DownloadMethod), QStringLiteral("1"));
    }

    void modalEntryPoint()
    {
        QTimer::singleShot(0, this, [] {
            QWidget *w = QApplication::activeModalWidget();
            QVERIFY(w && w->objectName() == QStringLiteral("fOption"));
            w->findChild<QRadioButton *>(QStringLiteral("methodOneOption"))->setChecked(true);
            w->findChild<QPushButton *>(QStringLiteral("okButton"))->click();
        });
        QVERIFY(showOptionsWindow(nullptr, TestOptions::store()));
        QCOMPARE(TestOptions::store().options().DownloadMethod, ::DownloadMethod::Single);
    }
};

FN_TEST_MAIN_GUI(TestOptionsWindow)
#include "tst_optionswindow.moc"
