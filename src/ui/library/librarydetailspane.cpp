#include "ui/library/librarydetailspane.h"

#include "core/library/librarythread.h"
#include "core/library/paperlibrary.h"
#include "ui/library/librarytexts.h"
#include "ui/library/pagepreview.h"

#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <memory>

LibraryDetailsPane::LibraryDetailsPane(LibraryThread &thread, QWidget *parent)
    : QWidget(parent), m_thread(thread), m_renderer(new PagePreview(this)), m_text(new QPlainTextEdit(this)),
      m_preview(new QLabel(this))
{
    m_text->setObjectName(QStringLiteral("txtDetails"));
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_preview->setObjectName(QStringLiteral("picPreview"));
    m_preview->setAlignment(Qt::AlignCenter);
    m_preview->setTextFormat(Qt::PlainText);
    m_preview->setMinimumHeight(kPreviewWidth);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_text, 3);
    layout->addWidget(m_preview, 2);
    connect(m_renderer, &PagePreview::rendered, this, &LibraryDetailsPane::previewArrived);
}

void LibraryDetailsPane::showPaper(const QString &address)
{
    const int generation = ++m_generation;
    m_previewPath.clear();
    m_renderer->request({}, 0);
    m_preview->clear();
    if (address.isEmpty()) {
        m_text->clear();
        return;
    }
    auto details = std::make_shared<std::optional<PaperDetails>>();
    m_thread.run(
        [address, details](PaperLibrary &library) {
            *details = libraryview::details(library, address);
            return details->has_value() || library.lastError().isEmpty();
        },
        this,
        [this, generation, address, details](const LibraryThread::Answer &answer) {
            if (generation != m_generation)
                return;
            if (!answer.ok || !details->has_value()) {
                m_text->setPlainText(answer.error);
                return;
            }
            m_text->setPlainText(paperDetailsText(**details));
            const QString file =
                (*details)->state == PaperState::Held ? (*details)->record.held.filePath : QString();
            m_previewPath = file;
            m_preview->setText(file.isEmpty() ? QStringLiteral("无预览") : QStringLiteral("正在生成预览…"));
            m_renderer->request(file, kPreviewWidth);
            emit shown(address);
        });
}

void LibraryDetailsPane::previewArrived(const QString &path, const QImage &page)
{
    if (path != m_previewPath)
        return;
    if (page.isNull())
        m_preview->setText(QStringLiteral("无预览"));
    else
        m_preview->setPixmap(QPixmap::fromImage(page));
    emit previewShown(!page.isNull());
}
