#pragma once

#include "host/modelbase.h"
#include "settingmodel_global.h"

#include <QList>
#include <QObject>
#include <QSharedPointer>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

class AccountBase;
class CustomEmojiItem;
class StickerItem;

// The user's status shortcuts, as QML lists them: each a description, an emoji and a time, and
// maybe a sticker or a custom emoji (whose images are fetched). Read from the synchronised status
// preference; written through the preference store.
class SETTINGMODEL_EXPORT StatusShortCut : public QObject, public ModelBase {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("StatusShortCut is made by the module")
    Q_PROPERTY(bool hasShortCut READ hasShortCut NOTIFY hasShortCutChanged)
    Q_PROPERTY(bool isEdited READ isEdited CONSTANT)
    Q_PROPERTY(QVariantList shortCutSetting READ shortCutSetting NOTIFY shortCutSettingChanged)
public:
    // The model source type of the images of status shortcuts.
    static constexpr int kSourceType = 64;

    explicit StatusShortCut(AccountBase* account);
    ~StatusShortCut() override;

    bool hasShortCut() const { return !m_shortCutSetting.isEmpty(); }
    // Whether the user ever set shortcuts (the preference holds a value).
    bool isEdited() const;
    QVariantList shortCutSetting() const { return m_shortCutSetting; }

    // Rebuilds the shortcuts from the preference's value (a JSON list).
    void update(const QByteArray& json);

    void initConnection() override;
    bool loadLocalData(bool alreadyLoaded) override;
    bool clearData(bool force) override;

signals:
    void hasShortCutChanged(bool hasShortCut);
    void shortCutSettingChanged(const QVariantList& shortCutSetting);

private:
    QSharedPointer<StickerItem> stickerOf(const QVariantMap& map);
    QSharedPointer<CustomEmojiItem> customEmojiOf(const QVariantMap& map);

    AccountBase* m_account;
    QVariantList m_shortCutSetting;
    QList<QSharedPointer<StickerItem>> m_stickers;
    QList<QSharedPointer<CustomEmojiItem>> m_customEmoji;
};
