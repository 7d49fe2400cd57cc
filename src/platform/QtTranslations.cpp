#include "platform/QtTranslations.h"

#include <QLibraryInfo>
#include <QTranslator>

namespace orvalink::platform {

bool installQtJapanese(QCoreApplication& app)
{
    auto* translator = new QTranslator(&app);
    // Named, not chosen by locale: a C or English locale still gets the Japanese texts.
    if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace orvalink::platform
