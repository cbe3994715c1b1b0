#include "ui/optionswindow.h"

#include "core/common/filenames.h"
#include "core/common/messenger.h"
#include "core/library/nametemplate.h"
#include "core/references/findertemplate.h"
#include "core/settings/settingsstore.h"
#include "core/settings/sharedoptions.h"
#include "desktop/screenfit.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QValidator>

using namespace settingkeys;

namespace {

// A port as it is typed: digits only, never above 65535; 0 and an empty box are not done yet.
class PortValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        const QString text = input.trimmed();
        if (text.isEmpty())
            return Intermediate;
        bool digits = text.size() <= 5;
        for (const QChar c : text)
            digits = digits && c >= u'0' && c <= u'9';
        if (!digits || text.toInt() > 65535)
            return Invalid;
        return text.toInt() == 0 ? Intermediate : Acceptable;
    }
};

template <typename W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// The proxy's address and port, each with an example beside it.
QGridLayout *proxyRows(QWidget *owner, QLineEdit *address, QLineEdit *port)
{
    auto *proxy = new QGridLayout;
    proxy->addWidget(new QLabel(QStringLiteral("地址："), owner), 0, 0);
    proxy->addWidget(address, 0, 1);
    proxy->addWidget(new QLabel(QStringLiteral("(如：proxy.example.com 或者 192.168.0.1)"), owner), 0, 2);
    proxy->addWidget(new QLabel(QStringLiteral("端口："), owner), 1, 0);
    proxy->addWidget(port, 1, 1);
    proxy->addWidget(new QLabel(QStringLiteral("(如：3128 或者 80 等等)"), owner), 1, 2);
    return proxy;
}

// A box with its label before it.
QHBoxLayout *labelledRow(QWidget *owner, const QString &label, QWidget *box)
{
    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(label, owner));
    row->addWidget(box);
    return row;
}

} // namespace

OptionsWindow::OptionsWindow(OptionStore &options, QWidget *parent)
    : QDialog(parent), m_options(options),
      m_methodOne(
          named(new QRadioButton(QStringLiteral("下载方式一 (支持HTTP，单线程，代理服务器下载)"), this),
                "methodOneOption")),
      m_methodTwo(named(new QRadioButton(QStringLiteral("下载方式二 (支持HTTP，多线程下载)"), this),
                        "methodTwoOption")),
      m_proxyEnabled(named(new QCheckBox(QStringLiteral("下载使用代理服务器"), this), "proxyCheck")),
      m_proxyAddress(named(new QLineEdit(this), "proxyAddressBox")),
      m_proxyPort(named(new QLineEdit(this), "proxyPortBox")),
      m_promptSavePath(named(new QCheckBox(QStringLiteral("提取网页信息时，提示下载保存路径"), this),
                             "promptSavePathCheck")),
      m_retries(named(new QSpinBox(this), "retriesSpin")),
      m_nameTemplate(named(new QLineEdit(this), "fileNameTemplateBox")),
      m_namePreview(named(new QLabel(this), "fileNameTemplatePreview")),
      m_doiResolver(named(new QLineEdit(this), "doiResolverBox"))
{
    setObjectName(QStringLiteral("fOption"));
    setWindowTitle(QStringLiteral("设置"));
    KeepWithinScreen(this);

    auto *methods = new QButtonGroup(this);
    methods->addButton(m_methodOne);
    methods->addButton(m_methodTwo);
    m_methodOne->setChecked(true);

    layOut();
    showOptions();
}

void OptionsWindow::layOut()
{
    auto *okButton = named(new QPushButton(QStringLiteral("确定"), this), "okButton");
    okButton->setDefault(true);
    auto *closeButton = named(new QPushButton(QStringLiteral("关闭"), this), "closeButton");

    // A port is a number from 1 to 65535: nothing else can be typed.
    m_proxyPort->setValidator(new PortValidator(m_proxyPort));
    QGridLayout *proxy = proxyRows(this, m_proxyAddress, m_proxyPort);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(closeButton);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("下载方式："), this));
    layout->addWidget(m_methodOne);
    layout->addWidget(m_methodTwo);
    layout->addWidget(m_proxyEnabled);
    layout->addLayout(proxy);
    layout->addWidget(m_promptSavePath);
    addNameTemplateRows(layout);
    connect(m_nameTemplate, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_namePreview->setText(NameTemplatePreview(text)); });
    auto *retries = new QHBoxLayout;
    retries->addWidget(new QLabel(QStringLiteral("失败自动重试次数"), this));
    retries->addWidget(m_retries);
    retries->addStretch();
    layout->addLayout(retries);
    layout->addLayout(labelledRow(this, QStringLiteral("DOI解析地址："), m_doiResolver));
    layout->addLayout(buttons);

    connect(okButton, &QPushButton::clicked, this, &OptionsWindow::confirm);
    connect(closeButton, &QPushButton::clicked, this, &OptionsWindow::reject);
}

void OptionsWindow::addNameTemplateRows(QVBoxLayout *layout)
{
    auto *names = new QHBoxLayout;
    names->addWidget(new QLabel(QStringLiteral("文件名模板："), this));
    names->addWidget(m_nameTemplate);
    layout->addLayout(names);
    layout->addWidget(
        named(new QLabel(QStringLiteral("(可用 {标题} {作者} {年份} {来源}，如：{年份}-{作者}-{标题}；"
                                        "留空即用标题)"),
                         this),
              "fileNameTemplateHint"));
    m_namePreview->setTextFormat(Qt::PlainText);
    m_namePreview->setWordWrap(true);
    layout->addWidget(m_namePreview);
}

void OptionsWindow::showOptions()
{
    const SharedOptions &options = m_options.options();
    m_proxyEnabled->setChecked(options.ProxyEnabled);
    m_proxyAddress->setText(options.ProxyAddress);
    m_proxyPort->setText(options.ProxyPort);
    if (options.DownloadMethod == ::DownloadMethod::Single)
        m_methodOne->setChecked(true);
    else
        m_methodTwo->setChecked(true);
    m_promptSavePath->setChecked(options.PromptSavePathOnExtract);
    m_retries->setRange(SharedOptions::MinRetries, SharedOptions::MaxRetries);
    m_retries->setValue(options.Retries);
    m_nameTemplate->setText(options.FileNameTemplate);
    m_namePreview->setText(NameTemplatePreview(m_nameTemplate->text()));
    m_doiResolver->setText(ReadDoiResolverTemplate());
}

QString NameTemplatePreview(const QString &nameTemplate)
{
    PaperMetadata sample;
    sample.title = QStringLiteral("深度学习在文献检索中的应用");
    sample.cells = {{QStringLiteral("作者"), QStringLiteral("张伟; 王芳")},
                    {QStringLiteral("年份"), QStringLiteral("2021")},
                    {QStringLiteral("来源"), QStringLiteral("情报学报")},
                    {QStringLiteral("英文标题"), QStringLiteral("Deep learning for literature retrieval")}};
    const QString used = nameTemplate.trimmed().isEmpty() ? QStringLiteral("{标题}") : nameTemplate.trimmed();
    const QString issue = nameTemplateIssueText(CheckNameTemplate(used));
    // The download falls back to the title when the template gives nothing; the preview says so instead.
    if (CleanFileName(FillNameTemplate(used, sample)).trimmed().isEmpty())
        return issue.isEmpty() ? QStringLiteral("模板不能生成文件名")
                               : QStringLiteral("模板不能生成文件名\n") + issue;
    const QString example = QStringLiteral("示例：") + TemplateFileName(used, sample, QStringLiteral("pdf")) +
                            QStringLiteral(".pdf");
    return issue.isEmpty() ? example : example + u'\n' + issue;
}

QString nameTemplateIssueText(const NameTemplateIssue &issue)
{
    switch (issue.kind) {
    case NameTemplateIssue::Kind::UnclosedBrace:
        return QStringLiteral("注意：第 %1 个字符的“{”没有对应的“}”，其后的文字按原样写入文件名")
            .arg(issue.at + 1);
    case NameTemplateIssue::Kind::UnknownField:
        return QStringLiteral("注意：“{%1}”不是内置字段，只在结果页表格有此列时才有值，否则略去")
            .arg(issue.field);
    case NameTemplateIssue::Kind::None:
        break;
    }
    return {};
}

QLineEdit *OptionsWindow::refusedBox() const
{
    if (!m_proxyEnabled->isChecked())
        return nullptr;
    if (m_proxyAddress->text().trimmed().isEmpty())
        return m_proxyAddress;
    return isProxyPort(m_proxyPort->text()) ? nullptr : m_proxyPort;
}

void OptionsWindow::confirm()
{
    if (QLineEdit *box = refusedBox()) {
        // Nothing is stored: the values in force stay, and the window waits on the box to mend.
        showMessage(MessageIcon::Critical, QStringLiteral("代理服务器网址或者端口格式不对！"));
        box->setFocus(Qt::OtherFocusReason);
        box->selectAll();
        return;
    }
    // A resolver that names no {doi}, or is no http(s) address once filled in, could lead nowhere.
    const QString resolver = m_doiResolver->text().trimmed();
    if (!resolver.isEmpty() && !CheckResolverTemplate(resolver).ok()) {
        showMessage(MessageIcon::Critical, QStringLiteral("DOI解析地址要是含 {doi} 的 http 或 https 地址！"));
        m_doiResolver->setFocus(Qt::OtherFocusReason);
        return;
    }
    WriteSetting(settingkeys::DoiResolver, resolver.isEmpty() ? settingdefaults::DoiResolver : resolver);
    const auto method = m_methodOne->isChecked() ? ::DownloadMethod::Single : ::DownloadMethod::Parallel;
    const bool changed = method != m_options.options().DownloadMethod;
    m_options.storeDownloadMethod(method);
    m_options.storeProxy(m_proxyEnabled->isChecked(), m_proxyAddress->text().trimmed(),
                         m_proxyPort->text().trimmed());
    m_options.storePromptSavePath(m_promptSavePath->isChecked());
    m_options.storeRetries(m_retries->value());
    m_options.storeFileNameTemplate(m_nameTemplate->text().trimmed());
    accept();
    Q_EMIT confirmed(m_options.options(), changed);
}

bool showOptionsWindow(QWidget *parent, OptionStore &options)
{
    OptionsWindow window(options, parent);
    return window.exec() == QDialog::Accepted;
}
