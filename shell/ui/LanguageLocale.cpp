#include "shell/ui/LanguageLocale.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>
#include <utility>

namespace orv::ui {

std::optional<QLocale> languageLocale(std::int32_t languageIndex)
{
    switch (languageIndex) {
    case 2: return QLocale(QLocale::German, QLocale::Germany);
    case 3: return QLocale(QLocale::French, QLocale::France);
    case 4: return QLocale(QLocale::Spanish, QLocale::Spain);
    case 5: return QLocale(QLocale::Italian, QLocale::Italy);
    case 6: return QLocale(QLocale::Russian, QLocale::Russia);
    case 7: return QLocale(QLocale::Portuguese, QLocale::Brazil); // the language file is Brazil's
    default: return std::nullopt;
    }
}

void useLanguage(std::int32_t languageIndex)
{
    static std::unique_ptr<QTranslator> installed;
    if (installed && QCoreApplication::instance())
        QCoreApplication::removeTranslator(installed.get());
    installed.reset();
    const std::optional<QLocale> locale = languageLocale(languageIndex);
    const QLocale chosen = locale.value_or(QLocale(QLocale::English, QLocale::UnitedStates));
    QLocale::setDefault(chosen);
    if (!locale || !QCoreApplication::instance())
        return;
    // qtbase holds the texts of Qt's dialogs; a language without its country's own file takes the
    // language's general one.
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    const std::pair<QLocale, QString> candidates[] = {{chosen, QStringLiteral("qtbase")},
                                                      {QLocale(chosen.language()), QStringLiteral("qtbase")}};
    for (const auto& [candidate, catalogue] : candidates) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(candidate, catalogue, QStringLiteral("_"), folder) &&
            QCoreApplication::installTranslator(translator.get())) {
            installed = std::move(translator);
            return;
        }
    }
}

} // namespace orv::ui
