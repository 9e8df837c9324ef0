#include "notifications/ringtonesetting.h"

#include "host/accountbase.h"
#include "host/contacts.h"
#include "host/dialogbase.h"
#include "notifications/groupmutedsettingmodel.h"
#include "notifications/ringtonemanager.h"

#include <QJSEngine>

namespace {

const QString kDialogId = QStringLiteral("dialog_id");
const QString kPreview = QStringLiteral("preview");
const QString kSilence = QStringLiteral("silence");
const QString kCustom = QStringLiteral("custom_ringtone");
const QString kPreset = QStringLiteral("desktop_preset_ringtone");
const QString kFileId = QStringLiteral("fileId");
const QString kToneName = QStringLiteral("tone_name");
const QString kUpdateTime = QStringLiteral("update_time");

template <class T> bool assign(T& field, const T& value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

} // namespace

// ---- RingtoneSetting ----

RingtoneSetting::RingtoneSetting(QObject* parent) : QObject(parent)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

RingtoneSetting::RingtoneSetting(const QVariantMap& map, QObject* parent) : RingtoneSetting(parent)
{
    deserialize(map);
}

RingtoneSetting::RingtoneSetting(const QString& dialogId, const QString& ringtone, qint64 time, bool preview,
                                 bool custom, QObject* parent)
    : RingtoneSetting(parent)
{
    m_dialogId = dialogId;
    m_preview = preview;
    if (custom) {
        m_customId = ringtone;
        m_customUpdated = time;
    } else {
        m_presetName = ringtone;
        m_presetUpdated = time;
    }
    m_customPriority = custom;
}

void RingtoneSetting::setCustomId(const QString& id)
{
    if (assign(m_customId, id))
        emit customIdChanged();
}

void RingtoneSetting::setPresetName(const QString& name)
{
    if (assign(m_presetName, name))
        emit presetNameChanged();
}

void RingtoneSetting::setPreview(bool preview)
{
    if (assign(m_preview, preview))
        emit previewChanged();
}

void RingtoneSetting::setSilence(bool silence)
{
    if (assign(m_silence, silence))
        emit silenceChanged();
}

void RingtoneSetting::setCustomPriority(bool priority)
{
    if (assign(m_customPriority, priority))
        emit customPriorityChanged();
}

void RingtoneSetting::updatePriority()
{
    // Equal times favour the preset.
    setCustomPriority(m_customUpdated > m_presetUpdated);
}

void RingtoneSetting::updateCustomId(const QString& id, qint64 time)
{
    setCustomId(id);
    m_customUpdated = time;
    updatePriority();
}

void RingtoneSetting::merge(const RingtoneSetting& other, bool keepFlags)
{
    if (!keepFlags) {
        setPreview(other.m_preview);
        setSilence(other.m_silence);
    }
    if (m_customUpdated < other.m_customUpdated) {
        setCustomId(other.m_customId);
        m_customUpdated = other.m_customUpdated;
    }
    if (m_presetUpdated < other.m_presetUpdated) {
        setPresetName(other.m_presetName);
        m_presetUpdated = other.m_presetUpdated;
    }
    updatePriority();
}

void RingtoneSetting::serialize(QVariantMap& map)
{
    QVariantMap out = m_raw;
    out.insert(kDialogId, m_dialogId);
    out.insert(kPreview, m_preview);
    out.insert(kSilence, m_silence);
    if (!m_customId.isEmpty()) {
        out.insert(kCustom, QVariantMap{{kFileId, m_customId}, {kUpdateTime, m_customUpdated}});
    } else {
        // A cleared choice stays visible as cleared where the chat's map had one.
        if (map.contains(kCustom))
            out.insert(kCustom, QVariantMap());
        m_customUpdated = 0;
    }
    if (!m_presetName.isEmpty()) {
        out.insert(kPreset, QVariantMap{{kToneName, m_presetName}, {kUpdateTime, m_presetUpdated}});
    } else {
        if (map.contains(kPreset))
            out.insert(kPreset, QVariantMap());
        m_presetUpdated = 0;
    }
    m_raw = out;
    map = out;
}

void RingtoneSetting::deserialize(const QVariantMap& map)
{
    // The map is the chat's whole choice: a side it does not hold (or holds empty) is none, and
    // every property that changes tells a bound interface.
    m_raw = map;
    if (map.contains(kDialogId))
        m_dialogId = map.value(kDialogId).toString();
    setPreview(map.contains(kPreview) ? map.value(kPreview).toBool() : true);
    setSilence(map.contains(kSilence) ? map.value(kSilence).toBool() : false);
    const QVariantMap custom = map.value(kCustom).toMap();
    setCustomId(custom.value(kFileId).toString());
    m_customUpdated = custom.value(kUpdateTime).toLongLong();
    const QVariantMap preset = map.value(kPreset).toMap();
    setPresetName(preset.value(kToneName).toString());
    m_presetUpdated = preset.value(kUpdateTime).toLongLong();
    updatePriority();
}

// ---- GlobalRingtoneSetting ----

namespace {
const QString kCustomId = QStringLiteral("custom_id");
const QString kCustomTime = QStringLiteral("custom_update_time");
const QString kPresetName = QStringLiteral("notifications_tone_name");
const QString kPresetTime = QStringLiteral("preset_update_time");
const QString kAiteCustomId = QStringLiteral("aite_custom_id");
const QString kAiteCustomTime = QStringLiteral("aite_custom_update_time");
const QString kAitePresetName = QStringLiteral("aite_tone_name");
const QString kAitePresetTime = QStringLiteral("aite_preset_update_time");
} // namespace

GlobalRingtoneSetting::GlobalRingtoneSetting(QObject* parent) : QObject(parent)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

GlobalRingtoneSetting::GlobalRingtoneSetting(QObject* parent, const QVariantMap& map)
    : GlobalRingtoneSetting(parent)
{
    read(map);
}

void GlobalRingtoneSetting::take(Choice& choice, const Choice& from, void (GlobalRingtoneSetting::*changed)())
{
    choice.time = from.time;
    if (assign(choice.value, from.value))
        emit(this->*changed)();
}

void GlobalRingtoneSetting::updatePriorities()
{
    if (assign(m_customPriority, m_custom.time > m_preset.time))
        emit customPriorityChanged();
    if (assign(m_customAitePriority, m_aiteCustom.time > m_aitePreset.time))
        emit customAitePriorityChanged();
}

void GlobalRingtoneSetting::setCustom(const QString& id, qint64 time)
{
    take(m_custom, {id, time}, &GlobalRingtoneSetting::customIdChanged);
    updatePriorities();
}

void GlobalRingtoneSetting::setPreset(const QString& name, qint64 time)
{
    take(m_preset, {name, time}, &GlobalRingtoneSetting::presetNameChanged);
    updatePriorities();
}

void GlobalRingtoneSetting::setAiteCustom(const QString& id, qint64 time)
{
    take(m_aiteCustom, {id, time}, &GlobalRingtoneSetting::aiteCustomIdChanged);
    updatePriorities();
}

void GlobalRingtoneSetting::setAitePreset(const QString& name, qint64 time)
{
    take(m_aitePreset, {name, time}, &GlobalRingtoneSetting::aitePresetNameChanged);
    updatePriorities();
}

void GlobalRingtoneSetting::read(const QVariantMap& map)
{
    const auto readChoice = [this, &map](Choice& choice, const QString& valueKey, const QString& timeKey,
                                         void (GlobalRingtoneSetting::*changed)()) {
        if (map.contains(valueKey))
            take(choice, {map.value(valueKey).toString(), map.value(timeKey).toLongLong()}, changed);
    };
    readChoice(m_custom, kCustomId, kCustomTime, &GlobalRingtoneSetting::customIdChanged);
    readChoice(m_preset, kPresetName, kPresetTime, &GlobalRingtoneSetting::presetNameChanged);
    readChoice(m_aiteCustom, kAiteCustomId, kAiteCustomTime, &GlobalRingtoneSetting::aiteCustomIdChanged);
    readChoice(m_aitePreset, kAitePresetName, kAitePresetTime, &GlobalRingtoneSetting::aitePresetNameChanged);
    updatePriorities();
}

QVariantMap GlobalRingtoneSetting::write() const
{
    return {{kCustomId, m_custom.value},           {kCustomTime, m_custom.time},
            {kPresetName, m_preset.value},         {kPresetTime, m_preset.time},
            {kAiteCustomId, m_aiteCustom.value},   {kAiteCustomTime, m_aiteCustom.time},
            {kAitePresetName, m_aitePreset.value}, {kAitePresetTime, m_aitePreset.time}};
}

void GlobalRingtoneSetting::merge(const GlobalRingtoneSetting& other)
{
    // Unlike one chat's setting, an equal time takes the other's value.
    const auto mergeChoice = [this](Choice& choice, const Choice& from,
                                    void (GlobalRingtoneSetting::*changed)()) {
        if (choice.time <= from.time)
            take(choice, from, changed);
    };
    mergeChoice(m_custom, other.m_custom, &GlobalRingtoneSetting::customIdChanged);
    mergeChoice(m_preset, other.m_preset, &GlobalRingtoneSetting::presetNameChanged);
    if (assign(m_customPriority, m_custom.time > m_preset.time))
        emit customPriorityChanged();
    mergeChoice(m_aiteCustom, other.m_aiteCustom, &GlobalRingtoneSetting::aiteCustomIdChanged);
    mergeChoice(m_aitePreset, other.m_aitePreset, &GlobalRingtoneSetting::aitePresetNameChanged);
    if (assign(m_customAitePriority, m_aiteCustom.time > m_aitePreset.time))
        emit customAitePriorityChanged();
}

// ---- GroupMutedSetting ----

GroupMutedSetting::GroupMutedSetting(AccountBase* account, QObject* parent)
    : QObject(parent),
      m_account(account)
{
    // The engine never deletes an object with a parent; only one made without is pinned (a mark
    // per object costs thousands of lists a fifth of their memory).
    if (!parent)
        QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

GroupMutedSetting::GroupMutedSetting(const QString& dialogId, bool reply, bool at, bool atAll,
                                     qint64 updateTime, AccountBase* account, QObject* parent,
                                     QSharedPointer<DialogBase> dialog)
    : GroupMutedSetting(account, parent)
{
    m_dialogId = dialogId;
    m_reply = reply;
    m_at = at;
    m_atAll = atAll;
    m_updateTime = updateTime;
    if (!dialog && m_account)
        dialog = m_account->dialogById(dialogId, false);
    setDialog(dialog);
}

void GroupMutedSetting::setReply(bool reply)
{
    if (assign(m_reply, reply))
        emit replyChanged();
}

void GroupMutedSetting::setAt(bool at)
{
    if (assign(m_at, at))
        emit atChanged();
}

void GroupMutedSetting::setAtAll(bool atAll)
{
    if (assign(m_atAll, atAll))
        emit atAllChanged();
}

void GroupMutedSetting::update(qint64 time, bool reply, bool at, bool atAll)
{
    m_updateTime = time;
    setReply(reply);
    setAt(at);
    setAtAll(atAll);
}

void GroupMutedSetting::merge(const GroupMutedSetting& other, bool keepFlags)
{
    if (keepFlags)
        return;
    setReply(other.m_reply);
    setAt(other.m_at);
    setAtAll(other.m_atAll);
}

bool GroupMutedSetting::isMatch(const QString& text) const
{
    return matches(dialogPtr(), text);
}

bool GroupMutedSetting::matches(const QSharedPointer<DialogBase>& chat, const QString& text)
{
    return chat && chat->isGroup() && chat->group() && chat->group()->isMatch(text);
}

void GroupMutedSetting::setDialog(const QSharedPointer<DialogBase>& dialog)
{
    if (dialog == m_dialog)
        return;
    disconnect(m_dialogConnection);
    m_dialog = dialog;
    if (dialog) {
        // The exception goes with its chat; the list may be gone first, hence the lookup.
        m_dialogConnection = connect(dialog.data(), &DialogBase::startDestroy, this, [this] {
            if (GroupMutedSettingModel* model = m_account ? m_account->groupMutedSettingModel() : nullptr)
                model->deleteGroupNotification(m_dialogId, false);
        });
    }
    emit dialogChanged();
}
