#include "ui/library/pagepreview.h"

#include "core/common/receiverpost.h"

#include <QFileInfo>
#include <QPdfDocument>

QImage renderFirstPage(const QString &path, int width)
{
    const QFileInfo info(path);
    if (width <= 0 || !info.isFile() || info.size() > PagePreview::kMaxBytes)
        return {};
    QPdfDocument document;
    if (document.load(path) != QPdfDocument::Error::None || document.pageCount() < 1)
        return {};
    const QSizeF points = document.pagePointSize(0);
    if (points.width() <= 0 || points.height() <= 0)
        return {};
    // Fitted into a box of the paper's usual proportions, so that a very tall or wide page stays whole.
    const QSize size = points.scaled(QSizeF(width, width * PagePreview::kPageProportion), Qt::KeepAspectRatio)
                           .toSize()
                           .expandedTo(QSize(1, 1));
    QPdfDocumentRenderOptions options;
    options.setRenderFlags(QPdfDocumentRenderOptions::RenderFlag::Annotations);
    QImage page = document.render(0, size, options);
    document.close();
    return page;
}

PagePreview::PagePreview(QObject *parent) : QObject(parent) {}

void PagePreview::request(const QString &path, int width)
{
    const int generation = ++m_generation;
    if (path.isEmpty())
        return;
    diskwork::workThenPost(
        this, [path, width] { return renderFirstPage(path, width); },
        [this, generation, path](const QImage &page) {
            if (generation == m_generation)
                emit rendered(path, page);
        });
}
