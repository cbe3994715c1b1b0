#pragma once

#include "demo/demobody.h"
#include "demo/demopaper.h"

#include <QByteArray>

// The papers of the demo site, numbered from 1 without end: the same number always gives the same
// paper, the same kind and the same bytes, so a site of any size can be checked against it.
namespace DemoCatalog {

DemoPaper paper(int number);
DemoPaperKind kindOf(int number);

// What /paper/N.pdf answers: status, media type (Content-Type without parameters) and body.
int status(int number);
QString mediaType(int number);
QByteArray body(int number);
// The same file made `size` bytes long (at least; see MiniPdf), streamed without being built whole: for
// the PDF kinds only, the others keep their own body. A size of 0 gives body() itself.
DemoBody sizedBody(int number, qint64 size);

// Successful files are larger than this, so no download engine mistakes them for an error page.
constexpr int kSmallestFile = 6000;

} // namespace DemoCatalog
