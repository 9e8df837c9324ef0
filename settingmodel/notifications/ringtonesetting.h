#pragma once

#include "host/dialogbase.h"
#include "settingmodel_global.h"

#include <QObject>
#include <QSharedPointer>
#include <QVariantMap>
#include <QWeakPointer>
#include <QtQml/qqmlregistration.h>

class AccountBase;

// One chat's notification choice: a custom ringtone (by file id) or a preset tone (by name),
// each with its own update time, the newer one in effect; message preview and silence.
class SETTINGMODEL_EXPORT RingtoneSetting : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("RingtoneSetting is made by the module")
    Q_PROPERTY(QString customId READ customId NOTIFY customIdChanged)
    Q_PROPERTY(QString presetName READ presetName NOTIFY presetNameChanged)
    Q_PROPERTY(bool preview READ preview NOTIFY previewChanged)
    Q_PROPERTY(bool silence READ silence NOTIFY silenceChanged)
    Q_PROPERTY(bool customPriority READ customPriority NOTIFY customPriorityChanged)
public:
    explicit RingtoneSetting(QObject* parent = nullptr);
    RingtoneSetting(const QVariantMap& map, QObject* parent);
    RingtoneSetting(const QString& dialogId, const QString& ringtone, qint64 time, bool preview, bool custom,
                    QObject* parent = nullptr);

    QString dialogId() const { return m_dialogId; }
    void setDialogId(const QString& dialogId) { m_dialogId = dialogId; }
    QString customId() const { return m_customId; }
    void setCustomId(const QString& id);
    QString presetName() const { return m_presetName; }
    void setPresetName(const QString& name);
    bool preview() const { return m_preview; }
    void setPreview(bool preview);
    bool silence() const { return m_silence; }
    void setSilence(bool silence);
    bool customPriority() const { return m_customPriority; }
    void setCustomPriority(bool priority);
    qint64 customUpdated() const { return m_customUpdated; }
    qint64 presetUpdated() const { return m_presetUpdated; }

    void updateCustomId(const QString& id, qint64 time);
    // Takes each newer side of other; with keepFlags false also its preview and silence.
    void merge(const RingtoneSetting& other, bool keepFlags);
    // map: the chat's previous map in, the new one out. Keys this record does not know survive.
    void serialize(QVariantMap& map);
    void deserialize(const QVariantMap& map);

signals:
    void customIdChanged();
    void presetNameChanged();
    void previewChanged();
    void silenceChanged();
    void customPriorityChanged();

private:
    void updatePriority();

    QVariantMap m_raw;
    QString m_dialogId;
    QString m_customId;
    QString m_presetName;
    qint64 m_customUpdated = 0;
    qint64 m_presetUpdated = 0;
    bool m_preview = true;
    bool m_silence = false;
    bool m_customPriority = false;
};

// The account-wide tones: for ordinary messages and for mentions ("aite"), each a custom
// ringtone or a preset with its update time.
class SETTINGMODEL_EXPORT GlobalRingtoneSetting : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("GlobalRingtoneSetting is made by the module")
    Q_PROPERTY(QString customId READ customId NOTIFY customIdChanged)
    Q_PROPERTY(QString presetName READ presetName NOTIFY presetNameChanged)
    Q_PROPERTY(QString aiteCustomId READ aiteCustomId NOTIFY aiteCustomIdChanged)
    Q_PROPERTY(QString aitePresetName READ aitePresetName NOTIFY aitePresetNameChanged)
    Q_PROPERTY(bool customPriority READ customPriority NOTIFY customPriorityChanged)
    Q_PROPERTY(bool customAitePriority READ customAitePriority NOTIFY customAitePriorityChanged)
public:
    explicit GlobalRingtoneSetting(QObject* parent = nullptr);
    GlobalRingtoneSetting(QObject* parent, const QVariantMap& map);

    QString customId() const { return m_custom.value; }
    QString presetName() const { return m_preset.value; }
    QString aiteCustomId() const { return m_aiteCustom.value; }
    QString aitePresetName() const { return m_aitePreset.value; }
    qint64 customUpdated() const { return m_custom.time; }
    qint64 presetUpdated() const { return m_preset.time; }
    qint64 aiteCustomUpdated() const { return m_aiteCustom.time; }
    qint64 aitePresetUpdated() const { return m_aitePreset.time; }
    bool customPriority() const { return m_customPriority; }
    bool customAitePriority() const { return m_customAitePriority; }

    void setCustom(const QString& id, qint64 time);
    void setPreset(const QString& name, qint64 time);
    void setAiteCustom(const QString& id, qint64 time);
    void setAitePreset(const QString& name, qint64 time);

    void read(const QVariantMap& map);
    QVariantMap write() const;
    // Takes each side whose time is not older than this one's.
    void merge(const GlobalRingtoneSetting& other);

signals:
    void customIdChanged();
    void presetNameChanged();
    void aiteCustomIdChanged();
    void aitePresetNameChanged();
    void customPriorityChanged();
    void customAitePriorityChanged();

private:
    struct Choice {
        QString value;
        qint64 time = 0;
    };
    void take(Choice& choice, const Choice& from, void (GlobalRingtoneSetting::*changed)());
    void updatePriorities();

    Choice m_custom;
    Choice m_preset;
    Choice m_aiteCustom;
    Choice m_aitePreset;
    bool m_customPriority = false;
    bool m_customAitePriority = false;
};

// A muted group that still notifies of replies, mentions or mentions of everyone. When its
// chat is destroyed, the exception removes itself from the account's list.
class SETTINGMODEL_EXPORT GroupMutedSetting : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("GroupMutedSetting is made by the module")
    Q_PROPERTY(bool reply READ reply NOTIFY replyChanged)
    Q_PROPERTY(bool at READ at NOTIFY atChanged)
    Q_PROPERTY(bool atAll READ atAll NOTIFY atAllChanged)
    Q_PROPERTY(DialogBase* dialog READ dialog NOTIFY dialogChanged)
public:
    explicit GroupMutedSetting(AccountBase* account, QObject* parent = nullptr);
    // With its chat when the caller has already looked it up.
    GroupMutedSetting(const QString& dialogId, bool reply, bool at, bool atAll, qint64 updateTime,
                      AccountBase* account, QObject* parent = nullptr,
                      QSharedPointer<DialogBase> dialog = {});

    QString dialogId() const { return m_dialogId; }
    void setDialogId(const QString& dialogId) { m_dialogId = dialogId; }
    bool reply() const { return m_reply; }
    void setReply(bool reply);
    bool at() const { return m_at; }
    void setAt(bool at);
    bool atAll() const { return m_atAll; }
    void setAtAll(bool atAll);
    qint64 updateTime() const { return m_updateTime; }
    QSharedPointer<DialogBase> dialogPtr() const { return m_dialog.toStrongRef(); }
    DialogBase* dialog() const { return dialogPtr().data(); }
    void setDialog(const QSharedPointer<DialogBase>& dialog);
    QVariantMap extra() const { return m_extra; }
    void setExtra(const QVariantMap& extra) { m_extra = extra; }

    void update(qint64 time, bool reply, bool at, bool atAll);
    void merge(const GroupMutedSetting& other, bool keepFlags);
    // Whether the chat is a group whose name or members match the text.
    bool isMatch(const QString& text) const;
    static bool matches(const QSharedPointer<DialogBase>& chat, const QString& text);

signals:
    void replyChanged();
    void atChanged();
    void atAllChanged();
    void dialogChanged();

private:
    AccountBase* m_account;
    QString m_dialogId;
    bool m_reply = true;
    bool m_at = true;
    bool m_atAll = true;
    qint64 m_updateTime = 0;
    QWeakPointer<DialogBase> m_dialog;
    QMetaObject::Connection m_dialogConnection;
    QVariantMap m_extra;
};
