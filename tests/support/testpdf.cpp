#define POINTERHOLDER_TRANSITION 4
#include "testpdf.h"

#include <QList>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>
#include <zlib.h>

namespace fntest {

namespace {

QByteArray deflate(const QByteArray &data)
{
    uLongf size = compressBound(uLong(data.size()));
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    compress2(reinterpret_cast<Bytef *>(out.data()), &size, reinterpret_cast<const Bytef *>(data.constData()),
              uLong(data.size()), 6);
    out.resize(qsizetype(size));
    return out;
}

QByteArray pageContent(int page, int bytes)
{
    QByteArray content;
    for (int line = 0; content.size() < bytes; ++line)
        content += "BT /F1 12 Tf 72 " + QByteArray::number(720 - (line % 50) * 14) + " Td (Page " +
                   QByteArray::number(page + 1) + " line " + QByteArray::number(line) + ") Tj ET\n";
    return content;
}

} // namespace

QByteArray TestPdf::bytes() const
{
    // Objects: 1 catalogue, 2 page tree, 3 font, then each page and its content stream.
    QList<QByteArray> objects = {"<< /Type /Catalog /Pages 2 0 R >>", QByteArray(),
                                 "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
    QByteArray kids;
    for (int page = 0; page < pages; ++page) {
        const int pageObject = int(objects.size()) + 1;
        const QByteArray streamRef =
            (missingContent && page == 0 ? QByteArray("999") : QByteArray::number(pageObject + 1)) + " 0 R";
        QByteArray contentRef = streamRef;
        if (contentRepeats > 1)
            contentRef = "[" + (streamRef + ' ').repeated(contentRepeats) + "]";
        objects += "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> "
                   ">> /Contents " +
                   contentRef + " >>";
        QByteArray data = content.isNull() ? pageContent(page, contentBytes) : content;
        if (compressed)
            data = deflate(data);
        if (badStream && page == 0 && data.size() > 40)
            data.replace(10, 30, QByteArray(30, 'X'));
        objects += "<< /Length " + QByteArray::number(data.size()) +
                   (compressed ? " /Filter /FlateDecode" : "") + " >>\nstream\n" + data + "\nendstream";
        kids += QByteArray::number(pageObject) + " 0 R ";
    }
    if (missingPage)
        kids += "998 0 R ";
    if (pageLoop)
        kids += "2 0 R ";
    const int count = pages + (missingPage ? 1 : 0) + (pageLoop ? 1 : 0);
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(count) + " >>";

    QByteArray out = "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n";
    QList<qint64> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets += out.size();
        out += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const qint64 xref = out.size();
    out += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const qint64 offset : offsets)
        out += QByteArray::number(offset + xrefShift).rightJustified(10, '0') + " 00000 n \n";
    out += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           QByteArray::number(xref) + "\n";
    if (endMarker)
        out += "%%EOF\n";
    return out;
}

QByteArray wholePdf(int bytes)
{
    TestPdf pdf;
    pdf.compressed = false;
    pdf.contentBytes = qMax(100, bytes - 700);
    return pdf.bytes();
}

QByteArray encryptedPdf(const char *userPassword)
{
    const QByteArray plain = TestPdf{}.bytes();
    QPDF pdf;
    pdf.processMemoryFile("plain.pdf", plain.constData(), size_t(plain.size()));
    QPDFWriter writer(pdf);
    writer.setOutputMemory();
    writer.setR6EncryptionParameters(userPassword, "owner", true, true, true, true, true, true, qpdf_r3p_full,
                                     true);
    writer.write();
    const std::shared_ptr<Buffer> buffer = writer.getBufferSharedPointer();
    return QByteArray(reinterpret_cast<const char *>(buffer->getBuffer()), qsizetype(buffer->getSize()));
}

namespace {

QByteArray cutBefore(const QByteArray &bytes, const QByteArray &marker, int back = 0)
{
    return bytes.left(bytes.lastIndexOf(marker) - back);
}

} // namespace

QList<PdfCase> pdfCases()
{
    using State = pdfverdict::State;
    TestPdf three;
    three.pages = 3;
    const QByteArray whole = three.bytes();
    TestPdf shifted = three;
    shifted.xrefShift = 7;
    TestPdf loop;
    loop.pageLoop = true;
    return {
        {"whole", whole, State::Whole},
        {"cut inside a page's stream", cutBefore(whole, "endstream", 200), State::Damaged},
        {"cut before the cross-reference table", cutBefore(whole, "xref\n0 "), State::Damaged},
        {"cut before the end-of-file marker", cutBefore(whole, "%%EOF"), State::Damaged},
        {"zeros after the header", "%PDF-1.5\n" + QByteArray(whole.size(), '\0'), State::Damaged},
        {"wrong cross-reference offsets", shifted.bytes(), State::Repaired},
        {"encrypted", encryptedPdf(), State::Encrypted},
        {"a page tree that names itself", loop.bytes(), State::Damaged},
    };
}

} // namespace fntest
