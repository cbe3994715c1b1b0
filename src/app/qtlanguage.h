#pragma once

#include <QList>
#include <QLocale>

class QTranslator;

// Qt's own texts (standard buttons, the file dialog) in the system's Chinese, or in simplified Chinese
// when the system speaks another language: the program's own texts are Chinese throughout. The
// catalogues come from Qt's translations folder. Returns the translators installed; the application
// owns them.
QList<QTranslator *> installQtTranslations(const QLocale &system = QLocale::system());

// The browser engine reports its graphics set-up at length on every start. That report stays out of the
// terminal unless a logging rule of the user (QT_LOGGING_RULES, QT_LOGGING_CONF) asks for it.
void quietBrowserEngineLog();
