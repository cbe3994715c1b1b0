#pragma once

#include <QRect>
#include <QTimer>
#include <QWidget>

class QLabel;
class QPushButton;

// The window the program starts on: its title, version and two buttons that become usable 100 ms
// after it is shown. Closing it ends the program.
class fCover : public QWidget
{
    Q_OBJECT

public:
    explicit fCover(QWidget *parent = nullptr);

    QLabel *Label1;
    QPushButton *batchButton; // "批量下载"
    QPushButton *quitButton;  // "退出软件"
    QTimer Timer1;

    static QString versionText(); // "版本:major.minor.revision"
    static QPixmap startupPicture(QSize size);
    // Top left corner that puts a window of the frame's size wholly inside the available area, as near
    // to the frame's own place as it can be.
    static QPoint placeOnScreen(const QRect &frame, const QRect &available);

Q_SIGNALS:
    void batchDownloadRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    bool m_loaded = false;
    QRect m_lastFrame; // where the window was when it went out of sight
};
