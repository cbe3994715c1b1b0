#pragma once

#include <QWidget>

class LibraryThread;
class PagePreview;
class QLabel;
class QPlainTextEdit;

// Everything the library knows of the paper chosen in the table, as plain text, and its first page as a
// picture. Both are read off the window's thread; a paper chosen meanwhile takes the place of the one
// on its way.
class LibraryDetailsPane : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kPreviewWidth = 260;

    LibraryDetailsPane(LibraryThread &thread, QWidget *parent = nullptr);

    // Shows the paper at the address (none: the pane empties).
    void showPaper(const QString &address);
    QPlainTextEdit *text() const { return m_text; }
    QLabel *preview() const { return m_preview; }

signals:
    // The details of the paper are shown, and its preview asked for when it holds a file.
    void shown(const QString &address);
    void previewShown(bool hasPage);

private:
    void previewArrived(const QString &path, const QImage &page);

    LibraryThread &m_thread;
    PagePreview *m_renderer;
    QPlainTextEdit *m_text;
    QLabel *m_preview;
    int m_generation = 0;
    QString m_previewPath;
};
