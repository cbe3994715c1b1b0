#pragma once

#include <QImage>
#include <QObject>
#include <QString>

// The first page of a PDF as a picture, rendered by Qt PDF on a worker of the shared pool: the window's
// thread never opens or draws the file. Only the answer to the latest request is told; an earlier one
// that comes later is dropped.
class PagePreview : public QObject
{
    Q_OBJECT

public:
    // Files larger than this are not opened for a preview.
    static constexpr qint64 kMaxBytes = qint64(256) << 20;
    // Height to width of the box a page is fitted in (an A4 page's).
    static constexpr double kPageProportion = 1.415;

    explicit PagePreview(QObject *parent = nullptr);

    // Renders the first page of the file to fit a box width pixels wide; an empty path only drops what was
    // asked.
    void request(const QString &path, int width);

signals:
    // The page, or a null image when the file is no PDF that opens.
    void rendered(const QString &path, const QImage &page);

private:
    int m_generation = 0;
};

// The first page of the PDF at path, fitted into a box width pixels wide; a null image when it cannot be
// opened. Call it off the window's thread.
QImage renderFirstPage(const QString &path, int width);
