#pragma once

#include "settingmodel_global.h"

#include <QLoggingCategory>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <map>

SETTINGMODEL_EXPORT Q_DECLARE_LOGGING_CATEGORY(lcSettingModel)

// A JSON list the device stored itself. Damaged text (not JSON, or not a list) reads as an empty
// list and is named in a warning, so a lost list leaves a trace.
QVariantList readStoredList(const QByteArray& json, const char* what);

// A preference value that holds a JSON object; an empty value is an empty object. False when
// the value is something else.
bool readJsonObject(const QByteArray& value, QVariantMap& out);

// What one server answer carried that was dropped, told in one warning once the answer is
// applied: each reason with how often it came and the first few items it named. While a
// DroppedInput lives, note() on its thread adds to it; with none, note() warns at once.
class DroppedInput {
public:
    explicit DroppedInput(const char* answer);
    ~DroppedInput();
    DroppedInput(const DroppedInput&) = delete;
    DroppedInput& operator=(const DroppedInput&) = delete;

    static void note(const char* reason, const QString& item);

private:
    struct Reason {
        int count = 0;
        QStringList items;
    };
    const char* m_answer;
    DroppedInput* m_outer;
    std::map<QByteArray, Reason> m_reasons;
};
