#include "ui/splitterbar.h"

#include <QMouseEvent>

SplitterBar::SplitterBar(QWidget *parent) : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setCursor(Qt::SplitVCursor);
}

void SplitterBar::mousePressEvent(QMouseEvent *event)
{
    raise();
    event->accept();
}

void SplitterBar::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() & Qt::LeftButton)
        Q_EMIT dragged(qRound(event->position().y()));
    event->accept();
}

void SplitterBar::mouseReleaseEvent(QMouseEvent *event)
{
    Q_EMIT released();
    event->accept();
}
