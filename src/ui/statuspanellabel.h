#pragma once

#include <QLabel>

// A panel of a status bar: as wide as its text where there is room, its text elided at the right with
// the whole text as its tooltip where there is not, and no box at all while it has nothing to say.
// text() is always the whole text.
class StatusPanelLabel : public QLabel
{
    Q_OBJECT

public:
    // A panel that has text is squeezed to no less than the least width (or its text's, if narrower).
    explicit StatusPanelLabel(int leastWidth, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // The text as the panel shows it at its present width.
    QString shownText() const;
    // The text did not fit when the panel was last laid out or drawn.
    bool isCut() const { return !m_cutText.isEmpty(); }

Q_SIGNALS:
    // The panel's text stopped fitting, fits again, or was cut and is another text now.
    void cutChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    int padding() const;
    QRect textArea() const;
    void showWholeTextAsTip(bool elided);

    int m_leastWidth;
    QString m_ownToolTip; // the tooltip given from outside, back once the text fits again
    bool m_tipIsText = false;
    QString m_cutText; // the text that did not fit, empty while it fits
};
