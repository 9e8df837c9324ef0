#pragma once

#include <QString>
#include <QVariantMap>

// The built-in themes, in the map form themes are built from, and the pattern images that ship
// with the application.
namespace settingmodel {

constexpr int kPresetThemeCount = 5;
// The plain built-in theme, which is also the current theme when none was chosen.
constexpr int kPlainPresetIndex = 4;

// The map of built-in theme index (0 to 4); empty for any other index.
QVariantMap presetThemeData(int index);
// The create time that orders the built-in themes (newest first: index 0 first).
qint64 presetThemeCreateTime(int index);
QString presetThemeId(int index);
// The resource path of a shipped pattern image by the file id the server knows it by; empty for
// any other id.
QString presetPatternPath(const QString& fileId);

} // namespace settingmodel
