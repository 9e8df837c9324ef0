#pragma once

#include <QStringList>

namespace settingmodel {

// A colour as the interface and the stored maps name it: "#" and six or eight hexadecimal digits.
// Anything else would be stored and sent as transparent black.
bool isColorName(const QString& name);
// True when every name is a colour; otherwise logs what was refused, and for what.
bool acceptColorNames(const QStringList& names, const char* what);

} // namespace settingmodel
