#include "ui/startupwindow.h"

#include "core/common/messenger.h"
#include "desktop/osname.h"
#include "desktop/screenfit.h"

#include <QGuiApplication>
#include <QHideEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

fCover::fCover(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("fCover"));
    setWindowTitle(kAppTitle);
    setFixedSize(520, 320);
    KeepWithinScreen(this);

    Label1 = new QLabel(QStringLiteral("版本："), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    // A palette, not a style sheet: the first style sheet of the program costs the start a few
    // milliseconds, and this window is the first one.
    QPalette text = Label1->palette();
    text.setColor(QPalette::WindowText, QColor(0xe8, 0xf1, 0xff));
    Label1->setPalette(text);
    Label1->setGeometry(24, 150, 240, 20);

    batchButton = new QPushButton(QStringLiteral("批量下载"), this);
    batchButton->setObjectName(QStringLiteral("batchButton"));
    batchButton->setGeometry(300, 250, 96, 32);
    batchButton->setEnabled(false);
    quitButton = new QPushButton(QStringLiteral("退出软件"), this);
    quitButton->setObjectName(QStringLiteral("quitButton"));
    quitButton->setGeometry(408, 250, 96, 32);
    quitButton->setEnabled(false);

    Timer1.setInterval(100);
    Timer1.setSingleShot(true);
    connect(&Timer1, &QTimer::timeout, this, [this] {
        Timer1.stop();
        batchButton->setEnabled(true);
        quitButton->setEnabled(true);
    });
    connect(batchButton, &QPushButton::clicked, this, [this] {
        hide();
        Q_EMIT batchDownloadRequested();
    });
    connect(quitButton, &QPushButton::clicked, this, &QWidget::close);
}

QString fCover::versionText()
{
    return QStringLiteral("版本:%1.%2.%3")
        .arg(FOLIONEXUS_VERSION_MAJOR)
        .arg(FOLIONEXUS_VERSION_MINOR)
        .arg(FOLIONEXUS_VERSION_PATCH);
}

QPoint fCover::placeOnScreen(const QRect &frame, const QRect &available)
{
    auto within = [](int start, int length, int areaStart, int areaLength) {
        return std::max(areaStart, std::min(start, areaStart + areaLength - length));
    };
    return {within(frame.x(), frame.width(), available.x(), available.width()),
            within(frame.y(), frame.height(), available.y(), available.height())};
}

void fCover::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        m_lastFrame = frameGeometry();
}

void fCover::showEvent(QShowEvent *event)
{
    if (m_loaded && m_lastFrame.isValid()) {
        // Shown again after the working windows closed: back where it was, wholly on a screen. An
        // explicit place also keeps the window manager from choosing a new one.
        const QScreen *target = QGuiApplication::screenAt(m_lastFrame.center());
        if (!target)
            target = screen() ? screen() : QGuiApplication::primaryScreen();
        if (target) {
            const QPoint place = placeOnScreen(m_lastFrame, target->availableGeometry());
            move(place);
            // Even where the place has not changed, the native window is told it was chosen.
            if (QWindow *handle = windowHandle())
                handle->setFramePosition(place);
        }
    }
    QWidget::showEvent(event);
    if (m_loaded)
        return; // shown again after the working windows closed: no second load
    m_loaded = true;
    Label1->setText(versionText());
    OsDescription(); // computed once for the windows that show it
    Timer1.start();
}

namespace {
// One page of the open book, lifted above the ones below it; side -1 is the left page, 1 the right.
QPainterPath bookPage(QPointF spine, double lift, int side)
{
    QPainterPath page;
    page.moveTo(spine);
    page.cubicTo(spine + QPointF(side * 40, -40 - lift), spine + QPointF(side * 90, -30 - lift),
                 spine + QPointF(side * 110, -10 - lift));
    page.lineTo(spine + QPointF(side * 110, 50 - lift));
    page.cubicTo(spine + QPointF(side * 90, 30 - lift), spine + QPointF(side * 40, 20 - lift),
                 spine + QPointF(0, 60));
    page.closeSubpath();
    return page;
}
} // namespace

QPixmap fCover::startupPicture(QSize size)
{
    QPixmap picture(size);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, size.width(), size.height());
    sky.setColorAt(0, QColor(18, 52, 86));
    sky.setColorAt(1, QColor(36, 112, 120));
    p.fillRect(picture.rect(), sky);
    // An open book whose pages fan into stacked sheets: papers gathered into one place.
    const QPointF spine(size.width() * 0.78, size.height() * 0.42);
    for (int i = 0; i < 6; ++i) {
        p.fillPath(bookPage(spine, i * 6.0, -1), QColor(255, 255, 255, 40 + i * 25));
        p.fillPath(bookPage(spine, i * 6.0, 1), QColor(255, 255, 255, 40 + i * 25));
    }
    p.setPen(QColor(255, 255, 255));
    QFont title = p.font();
    title.setPointSize(20);
    title.setBold(true);
    p.setFont(title);
    p.drawText(QRect(24, 40, size.width() - 48, 40), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("墨枢 Folionexus"));
    QFont sub = p.font();
    sub.setPointSize(12);
    sub.setBold(false);
    p.setFont(sub);
    p.drawText(QRect(24, 84, size.width() - 48, 30), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("文献资料下载管理器"));
    p.setPen(QColor(200, 220, 235));
    p.drawText(QRect(24, 116, size.width() - 48, 24), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("检索 · 提取 · 批量下载"));
    return picture;
}

void fCover::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.drawPixmap(0, 0, startupPicture(size()));
}
