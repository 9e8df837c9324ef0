#pragma once

#include <QString>

namespace settingmodel {

// The resource path of a pattern image that ships with the application, by the file id the
// server knows it by; empty for any other id.
QString presetPatternPath(const QString& fileId);

} // namespace settingmodel
