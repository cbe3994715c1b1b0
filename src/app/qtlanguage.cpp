#include "app/qtlanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QTranslator>

QList<QTranslator *> installQtTranslations(const QLocale &system)
{
    const QLocale simplified(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China);
    const QLocale chinese = system.language() == QLocale::Chinese ? system : simplified;
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    QList<QTranslator *> installed;
    // "qt" gathers the catalogues of Qt's modules; the browser's own dialogs are in "qtwebengine".
    for (const QString &catalogue : {QStringLiteral("qt"), QStringLiteral("qtwebengine")}) {
        auto *translator = new QTranslator(QCoreApplication::instance());
        const bool loaded = translator->load(chinese, catalogue, QStringLiteral("_"), folder) ||
                            translator->load(simplified, catalogue, QStringLiteral("_"), folder);
        if (loaded && QCoreApplication::installTranslator(translator))
            installed.append(translator);
        else
            delete translator;
    }
    return installed;
}

void quietBrowserEngineLog()
{
    // Rules set here give way to the user's: Qt applies QT_LOGGING_CONF and QT_LOGGING_RULES after them.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.debug=false\n"
                                                    "qt.webenginecontext.info=false"));
}
