#pragma once

#include "core/settings/sharedoptions.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QVBoxLayout;
struct NameTemplateIssue;

// fOption: the download method, the proxy for single-connection downloads and whether the save folder
// is asked for when rows are taken from a result page. Shows the shared values (the method in force,
// after a switch in the download window too); OK stores them, or none of them while one is refused.
class OptionsWindow : public QDialog
{
    Q_OBJECT

public:
    explicit OptionsWindow(OptionStore &options, QWidget *parent = nullptr);

Q_SIGNALS:
    // OK stored the values: those now in force, and whether the download method is another than before
    // (the download window then starts the parallel method with one transfer).
    void confirmed(const SharedOptions &options, bool methodChanged);

public Q_SLOTS:
    void confirm();

private:
    void layOut();
    // The file-name template with its hint and the name it gives a sample paper.
    void addNameTemplateRows(QVBoxLayout *layout);
    void showOptions();
    // The box whose value OK cannot take, or none: with the proxy on, an empty address or a port that
    // the transfer cannot use.
    QLineEdit *refusedBox() const;

    OptionStore &m_options;
    QRadioButton *m_methodOne;
    QRadioButton *m_methodTwo;
    QCheckBox *m_proxyEnabled;
    QLineEdit *m_proxyAddress;
    QLineEdit *m_proxyPort;
    QCheckBox *m_promptSavePath;
    QSpinBox *m_retries;
    QLineEdit *m_nameTemplate; // "文件名模板"
    QLabel *m_namePreview;     // the name the template gives a sample paper
    QLineEdit *m_doiResolver;  // "DOI解析地址": where a listed paper's DOI leads to its landing page
};

// What the options window shows under the file-name template: the name it gives a sample paper, or
// "模板不能生成文件名" when it gives none that can be used (an empty template stands for the title).
QString NameTemplatePreview(const QString &nameTemplate);
// What the preview says of a template's flaw ("注意：……"); empty for none.
QString nameTemplateIssueText(const NameTemplateIssue &issue);

// Shows the options window and waits until it closes; true when the user confirmed new values.
bool showOptionsWindow(QWidget *parent, OptionStore &options);
