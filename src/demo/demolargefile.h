#pragma once

#include "demo/demobody.h"
#include "demo/demohttp.h"

#include <QString>
#include <memory>
#include <optional>

class MiniPdf;

// A large file the demo site serves at path(), sent as application/pdf with Content-Length, an ETag and
// byte ranges, and streamed piece by piece: either a file on disk or a generated PDF of (about) the given
// size.
class DemoLargeFile
{
public:
    static QString path();

    void setFile(const QString &path);
    void setSize(qint64 bytes);
    qint64 size() const; // -1 when there is none
    QByteArray bytes(qint64 offset, qint64 length) const;

    // The answer to a request for path(): the file, the range it asks for, or 404 when there is none.
    DemoResponse answer(const DemoRequest &request) const;

private:
    std::optional<DemoBody> body() const;

    QString m_path;
    std::shared_ptr<const MiniPdf> m_pdf;
};
