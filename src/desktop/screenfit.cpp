#include "desktop/screenfit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWidget>
#include <algorithm>

QRect FitFrameInto(const QRect &frame, const QRect &available)
{
    const QSize size = frame.size().boundedTo(available.size());
    auto within = [](int start, int length, int areaStart, int areaLength) {
        return std::max(areaStart, std::min(start, areaStart + areaLength - length));
    };
    return {QPoint(within(frame.x(), size.width(), available.x(), available.width()),
                   within(frame.y(), size.height(), available.y(), available.height())),
            size};
}

namespace {

// How long after a window is shown its first move by the window manager is awaited; later moves are
// the user's.
constexpr int kPlacementWaitMs = 2000;

class ScreenKeeper : public QObject
{
public:
    explicit ScreenKeeper(QWidget *window) : QObject(window), m_window(window)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_window)
            return false;
        if (event->type() == QEvent::Show && !event->spontaneous()) {
            fit(m_window->testAttribute(Qt::WA_Moved) || m_shownBefore);
            m_shownBefore = true;
            m_awaitingPlacement = true;
            QTimer::singleShot(kPlacementWaitMs, this, [this] { m_awaitingPlacement = false; });
        } else if ((event->type() == QEvent::Move || event->type() == QEvent::Resize) &&
                   event->spontaneous() && m_awaitingPlacement) {
            // The window manager has placed the window and drawn its frame: both are known now.
            m_awaitingPlacement = false;
            QTimer::singleShot(0, this, [this] { fit(true); });
        }
        return false;
    }

private:
    // The frame's widths around the window, none while the window manager has drawn none.
    QMargins frameMargins() const
    {
        const QRect frame = m_window->frameGeometry();
        const QRect inner = m_window->geometry();
        return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                frame.bottom() - inner.bottom()};
    }

    // Sizes the window to the screen, and moves it in too when its place is known.
    void fit(bool placed)
    {
        if (!m_window->isWindow() || m_window->isMaximized() || m_window->isFullScreen())
            return;
        const QScreen *screen = QGuiApplication::screenAt(m_window->frameGeometry().center());
        if (!screen)
            screen = m_window->screen();
        if (!screen)
            return;
        const QRect available = screen->availableGeometry();
        QMargins margins = frameMargins();
        // Before the window manager has framed the window, room is kept for a title bar.
        const QMargins sizing =
            margins.isNull()
                ? QMargins(0, m_window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, m_window), 0,
                           0)
                : margins;
        const QSize size = m_window->size()
                               .boundedTo(available.marginsRemoved(sizing).size())
                               .expandedTo(m_window->minimumSize());
        if (size != m_window->size())
            m_window->resize(size);
        if (!placed)
            return;
        const QRect frame(m_window->pos(), m_window->size().grownBy(margins));
        const QPoint place = FitFrameInto(frame, available).topLeft();
        if (place != frame.topLeft())
            m_window->move(place);
    }

    QPointer<QWidget> m_window;
    bool m_shownBefore = false;
    bool m_awaitingPlacement = false;
};

} // namespace

void KeepWithinScreen(QWidget *window)
{
    new ScreenKeeper(window);
}
