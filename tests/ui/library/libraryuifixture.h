#pragma once

#include "core/library/libraryview.h"
#include "libraryfixture.h"
#include "testenv.h"
#include "testpdf.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>

namespace fntest {

// A paper library in a folder of its own with real files: the test writes through `writer`, as the
// download window would, and the code under test opens the same file on its own connections.
class LibraryUiFixture
{
public:
    LibraryUiFixture() : writer(m_dir.path() + QStringLiteral("/PaperLibrary.db"))
    {
        m_opened = writer.open().ok;
    }

    bool ok() const { return m_dir.isValid() && m_opened; }
    QString path() const { return writer.path(); }
    QString folder() const { return m_dir.path() + u'/'; }

    // A file under the fixture's folder (its folders made).
    QString file(const QString &name, const QByteArray &bytes) const
    {
        const QString at = folder() + name;
        QDir().mkpath(QFileInfo(at).absolutePath());
        writeFile(at, bytes);
        return at;
    }

    // A paper seen on a result page and, with a file, downloaded into it.
    bool paper(const QString &address, const QString &title, const PaperCells &cells = {},
               const QString &filePath = {})
    {
        if (!writer.recordSeen({seenPaper(address, title, cells, QStringLiteral("http://s/results?page=1"))}))
            return false;
        return filePath.isEmpty() || writer.recordDownloads({doneAt(address, filePath)});
    }

    // The state the library's table gives the paper.
    PaperState stateOf(const QString &address)
    {
        const std::optional<QList<LibraryRow>> rows = libraryview::rows(writer, {}, 0, 100000);
        for (const LibraryRow &row : rows.value_or(QList<LibraryRow>())) {
            if (row.address == address)
                return row.state;
        }
        return PaperState::NoFullText; // a state no test expects of a paper that is not there
    }

    QTemporaryDir m_dir;
    PaperLibrary writer;

private:
    bool m_opened = false;
};

} // namespace fntest
