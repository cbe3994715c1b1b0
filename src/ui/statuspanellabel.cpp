#include "ui/statuspanellabel.h"

#include <QPainter>
#include <QStyle>

StatusPanelLabel::StatusPanelLabel(int leastWidth, QWidget *parent) : QLabel(parent), m_leastWidth(leastWidth)
{
    setFrameShape(QFrame::StyledPanel);
    setTextFormat(Qt::PlainText);
}

int StatusPanelLabel::padding() const
{
    return fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 + margin();
}

QRect StatusPanelLabel::textArea() const
{
    return contentsRect().adjusted(padding(), 0, -padding(), 0);
}

QSize StatusPanelLabel::sizeHint() const
{
    const int height = fontMetrics().height() + 2 * frameWidth() + 2 * margin() + 2;
    if (text().isEmpty())
        return {0, height};
    return {fontMetrics().horizontalAdvance(text()) + 2 * padding() + 2 * frameWidth() + 1, height};
}

QSize StatusPanelLabel::minimumSizeHint() const
{
    const QSize hint = sizeHint();
    return {std::min(hint.width(), m_leastWidth), hint.height()};
}

QString StatusPanelLabel::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideRight, std::max(0, textArea().width()));
}

void StatusPanelLabel::paintEvent(QPaintEvent *)
{
    // An empty panel draws no box: it takes no room either.
    if (text().isEmpty()) {
        showWholeTextAsTip(false);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    const QString shown = shownText();
    style()->drawItemText(&painter, textArea(), QStyle::visualAlignment(layoutDirection(), alignment()),
                          palette(), isEnabled(), shown, foregroundRole());
    showWholeTextAsTip(shown != text());
}

void StatusPanelLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    showWholeTextAsTip(!text().isEmpty() && shownText() != text());
}

void StatusPanelLabel::showWholeTextAsTip(bool elided)
{
    const QString cut = elided ? text() : QString();
    if (cut != m_cutText) {
        m_cutText = cut;
        Q_EMIT cutChanged();
    }
    if (elided) {
        if (!m_tipIsText)
            m_ownToolTip = toolTip();
        m_tipIsText = true;
        if (toolTip() != text())
            setToolTip(text());
    } else if (m_tipIsText) {
        m_tipIsText = false;
        setToolTip(m_ownToolTip);
    }
}
