#pragma once

#include <QFrame>

// The thin bar between the browser and the candidate list. While dragged only the bar moves; the
// window lays the panels out again when the button is released.
class SplitterBar : public QFrame
{
    Q_OBJECT

public:
    explicit SplitterBar(QWidget *parent = nullptr);

Q_SIGNALS:
    void dragged(int dy); // pixels the pointer lies below the bar's top edge
    void released();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
};
