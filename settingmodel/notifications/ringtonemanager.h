#pragma once

#include "generation.h"
#include "host/modelbase.h"
#include "notifications/ringtonemodel.h"
#include "notifications/ringtonesetting.h"
#include "settingmodel_global.h"

#include <QElapsedTimer>
#include <QFuture>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QPointer>
#include <QSet>
#include <QThreadPool>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class AccountBase;

class SharedPreferenceModel;

// The account's notification sounds: the custom ringtones (at most 20, uploaded through the
// file services), the global tones for messages and mentions, and each chat's tone, preview and
// silence. All of it lives in the synchronised preferences ("desktop_notification", the custom
// ringtone list and "ringtone_<chat>"), written here and merged when another device wrote first.
class SETTINGMODEL_EXPORT RingtoneManager : public QObject, public ModelBase {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("RingtoneManager is made by the module")
    Q_PROPERTY(RingtoneModel* customRingtoneModel READ customRingtoneModel CONSTANT)
    Q_PROPERTY(GlobalRingtoneSetting* globalRingtoneSetting READ globalRingtoneSetting NOTIFY
                   globalRingtoneSettingChanged)
public:
    static constexpr char kSystemRingtone[] = "system_ringtone";

    explicit RingtoneManager(AccountBase* account);
    ~RingtoneManager() override;

    RingtoneModel* customRingtoneModel() const { return m_model; }
    GlobalRingtoneSetting* globalRingtoneSetting() const { return m_global; }

    Q_INVOKABLE void resetNotification();
    Q_INVOKABLE void addRingtoneByPath(const QString& path);
    Q_INVOKABLE void addRingtoneByMsg(FileData* file, const QString& ringName);
    Q_INVOKABLE void deleteRingtone(const QString& fileId);
    Q_INVOKABLE void setGlobalRingtone(const QString& ringtone, bool bCustom, bool bAite);
    Q_INVOKABLE void setChatRingtone(const QString& dialogId, const QString& ringtone, bool bPreview,
                                     bool bCustom);
    Q_INVOKABLE void setChatRingtone(const QString& dialogId, const QString& ringtone, bool bCustom);
    Q_INVOKABLE void clearMutedNotifyData(const QString& dialogId);
    Q_INVOKABLE void setChatSilence(const QString& dialogId, bool bSilence);
    Q_INVOKABLE QVariantMap getValidRingtone(const QString& dialogId);
    Q_INVOKABLE QVariantMap getValidRingtone(RingtoneSetting* setting);
    Q_INVOKABLE RingtoneSetting* ringtoneSetting(const QString& dialogId);
    Q_INVOKABLE QString ringtoneNameById(const QString& customId) const;
    // The preset tones, the default first, each {"id", "name"} with the name in the user's language.
    Q_INVOKABLE QVariantList presetRingtones() const;
    // What a person calls a tone: a preset's name, a custom ringtone's file name ("Custom
    // ringtone" while the list does not know it); an empty preset is the default tone.
    Q_INVOKABLE QString ringtoneDisplayName(const QString& ringtone, bool custom) const;
    // Plays a preset or custom tone on the chosen audio output; AudioManage's playbackError says
    // when it cannot (a custom tone not downloaded yet, no output).
    Q_INVOKABLE void playRingtone(const QString& ringtone, bool custom);

    // From the preference store.
    void updateDesktopNotifyConfig(const QByteArray& json);
    void updateRingtones(const QByteArray& json);
    void updateRingtoneSetting(const QString& key, const QByteArray& json, qint64 time, bool fromLocal);
    void syncFinish(const QVariantMap& context, bool ok);
    void syncMergeList(const QByteArray& json, const QVariantMap& context);
    void syncMergeSetting(const QByteArray& json, const QVariantMap& context);
    RingtoneSetting* getRingtoneSetting(const QString& dialogId) const { return m_settings.value(dialogId); }
    // Whether an add is being prepared.
    bool isAdding() const;

    void initConnection() override;
    void initData() override;
    bool loadLocalData(bool alreadyLoaded) override;
    bool prepareToClearData(bool force) override;
    bool clearData(bool force) override;

signals:
    void globalRingtoneSettingChanged();

private:
    SharedPreferenceModel* store() const;
    void onListFinished();
    void uploadRingtone(const FileDataPtr& file);
    // At the limit (listed and uploading), the user is told and true comes back.
    bool atLimit();
    // Forgets a ringtone file that is not listed: record, cached copy, upload id.
    void dropUnlisted(const FileDataPtr& file);
    // Forgets the ringtone records the loaded list does not name (adds a restart cut short).
    void forgetUnlisted();
    // Sends the merged list again when no add of this device's is on its way and the list differs
    // from what this device wrote last.
    void sendMergedAgain();
    void retryMergedLater();
    // An uploaded or copied file becomes a listed ringtone and the list goes to the server,
    // unless the list filled up meanwhile.
    void finishAdd(const FileDataPtr& file, int type);
    // Takes another list, keeping keep, and forgets the files of rows that left.
    void mergeList(const QList<CustomRingtoneItem*>& items, const QSet<QString>& keep);
    void syncToServer(const QString& fileId);
    void checkSettingByListChanged();
    void sendDesktopConfig();
    // Writes a chat's setting over its stored map, without the older clients' exception flags.
    void writeChatSetting(RingtoneSetting* setting);
    RingtoneSetting* settingFor(const QString& dialogId);
    // A custom ringtone's playable path, or empty (and a download started) when it is not here.
    QString playablePath(const QString& customId);
    // Runs on the manager's thread, unless a sign-out began meanwhile.
    void post(std::function<void()> step);
    void report(const char* id);

    AccountBase* m_account;
    RingtoneModel* m_model;
    GlobalRingtoneSetting* m_global;
    QVariantMap m_desktopConfig;
    mutable QMutex m_taskMutex;
    QFuture<void> m_task;
    Generation m_generation;
    QHash<QString, RingtoneSetting*> m_settings;
    QPointer<RingtoneSetting> m_currentSetting;
    // This device's adds whose list write the server has not answered yet, and the last list
    // written.
    QSet<QString> m_pendingAdds;
    // Ringtones whose upload runs: they count against the limit before they are listed.
    QSet<QString> m_uploading;
    // Downloads of custom ringtones that were asked for while missing, with their back-off.
    struct DownloadTry {
        QElapsedTimer clock;
        qint64 waitMs = 5000;
    };
    static constexpr qint64 kMaxDownloadWaitMs = 10 * 60 * 1000;
    QHash<QString, DownloadTry> m_downloadTries;
    QByteArray m_written;
    // The server failed the last merged list this device sent again; it goes again.
    bool m_mergedFailed = false;
    static constexpr int kMergedRetryMs = 2000;
    QMetaObject::Connection m_listFinished;
    // The custom ringtone list has been read from the server since the sign-in.
    bool m_listFromServer = false;
};
