#include "colornames.h"

#include "logging.h"

#include <cctype>

namespace settingmodel {

bool isColorName(const QString& name)
{
    if ((name.size() != 7 && name.size() != 9) || !name.startsWith(QLatin1Char('#')))
        return false;
    for (qsizetype i = 1; i < name.size(); ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(name.at(i).toLatin1())))
            return false;
    }
    return true;
}

bool acceptColorNames(const QStringList& names, const char* what)
{
    for (const QString& name : names) {
        if (!isColorName(name)) {
            qCWarning(lcSettingModel).noquote()
                << "refused" << what << names << "(not a colour:" << name << ")";
            return false;
        }
    }
    return true;
}

} // namespace settingmodel
