#include "japanese.h"

#include <QCollator>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <algorithm>
#include <mutex>
#include <numeric>
#include <optional>

namespace murako {

void UseJapaneseLocale()
{
    // Qt reads the system's locale from the environment once, at its first use: dates, numbers, and the
    // rest (a byte count's unit) from the messages' category, which LC_ALL would outrank. The C library
    // must not see them: where it has no Japanese locale it would fall back to ASCII for everything, and
    // the window's title would reach the X server garbled.
    const char* const variables[] = {"LC_ALL", "LC_TIME", "LC_NUMERIC", "LC_MESSAGES"};
    std::vector<std::optional<QByteArray>> saved;
    for (const char* variable : variables)
        saved.push_back(qEnvironmentVariableIsSet(variable) ? std::optional(qgetenv(variable)) : std::nullopt);
    qunsetenv("LC_ALL");
    for (const char* category : {"LC_TIME", "LC_NUMERIC", "LC_MESSAGES"})
        qputenv(category, "ja_JP.UTF-8");
    QLocale::system();
    for (size_t i = 0; i < saved.size(); ++i) {
        if (saved[i])
            qputenv(variables[i], *saved[i]);
        else
            qunsetenv(variables[i]);
    }
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
}

QTranslator* LoadQtJapaneseTranslations()
{
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    // Installed last, so asked first; it holds only texts that Qt's own file lacks.
    auto* additions = new QTranslator(translator);
    if (additions->load(QStringLiteral(":/translations/qt_additions_ja.qm")))
        QCoreApplication::installTranslator(additions);
    return translator;
}

QFont GridFont()
{
    static const QString family = QStringLiteral("ＭＳ Ｐゴシック");
    // It does not exist on Linux; without substitutes fontconfig hands back a Latin font.
    static std::once_flag registered;
    std::call_once(registered, [] {
        QFont::insertSubstitutions(family, {QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
    });
    return QFont(family, 9);
}

std::vector<int32_t> CollatedRanks(const std::vector<std::string>& names)
{
    QCollator collator(QLocale(QLocale::Japanese, QLocale::Japan));
    collator.setNumericMode(true);
    std::vector<QCollatorSortKey> keys;
    keys.reserve(names.size());
    for (const std::string& name : names)
        keys.push_back(collator.sortKey(QString::fromStdString(name)));
    std::vector<int32_t> byName(names.size());
    std::iota(byName.begin(), byName.end(), 0);
    std::sort(byName.begin(), byName.end(), [&](int32_t a, int32_t b) { return keys[a].compare(keys[b]) < 0; });
    std::vector<int32_t> ranks(names.size());
    for (size_t i = 0; i < byName.size(); ++i)
        ranks[byName[i]] = i > 0 && keys[byName[i]].compare(keys[byName[i - 1]]) == 0 ? ranks[byName[i - 1]]
                                                                                   : static_cast<int32_t>(i);
    return ranks;
}

}  // namespace murako
