#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QPlainTextEdit;
class QTimer;

// frmAbout: the program's name and version, a description of the system it runs on (copied to the
// clipboard on request) and a button that starts the desktop's system information program.
class AboutWindow : public QDialog
{
    Q_OBJECT

public:
    explicit AboutWindow(QWidget *parent = nullptr);

    QString information() const { return m_information; }

public Q_SLOTS:
    void showSystemDescription();
    void copyInformation();
    void startSystemInformation();

private:
    // The title, the version, the information box and the three buttons, wired to their slots.
    void layOut();
    void setInformation(const QString &text);

    QLabel *lsoftname;
    QLabel *lblVersion;
    QPlainTextEdit *Text1;
    QTimer *Timer1;
    QString m_information;
};

// System information programs looked for on PATH, in this order.
QStringList systemInformationPrograms();
// Full path of the first of them found on PATH, or empty text.
QString findSystemInformationProgram();

// Shows the about window and waits until it closes.
void showAboutWindow(QWidget *parent);
