#pragma once

#include "im/common.pb.h"
#include "im/user.pb.h"
#include "simfilestore.h"
#include "simwallpapers.h"
#include "transport.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class SimTransport;
namespace im::server {
class UserState;
} // namespace im::server

// An in-process server for one user and his devices. Each device talks to it through its
// own transport; answers come after a configurable latency, stamped with the server's clock,
// and preference changes are pushed to the user's other connected devices.
class SimServer : public QObject {
    Q_OBJECT
public:
    struct Reply {
        int code = 0;
        QByteArray body;
    };

    // Result codes of this server.
    static constexpr int kUnauthorized = 401;
    static constexpr int kBadRequest = 400;
    static constexpr int kNotFound = 404;
    static constexpr int kConflict = 409;
    static constexpr int kTooLarge = 413;
    static constexpr int kUnprocessable = 422;
    static constexpr int kTooFrequent = 429;
    static constexpr int kWrongCode = 2102;
    static constexpr int kCodeExpired = 2103;
    static constexpr int kPasswordLocked = 2119;
    static constexpr int kResetPending = 13901;
    static constexpr int kInvalidEmail = 15201;
    static constexpr int kNetworkError = -1;

    // Rules that make the server's behaviour testable; they hold for every user.
    static constexpr int kPasswordAttempts = 5;
    static constexpr qint64 kLockMs = 60 * 60 * 1000;
    static constexpr int kEmailsPerMinute = 3;
    static constexpr qint64 kCodeLifetimeMs = 10 * 60 * 1000;
    static constexpr qint64 kResetDelayMs = 7LL * 24 * 60 * 60 * 1000;
    static const char* const kVerificationCode;

    explicit SimServer(QObject* parent = nullptr);
    ~SimServer() override;

    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }
    qint64 now() const;
    Q_INVOKABLE void setLatency(int ms) { m_latencyMs = ms; }
    void setPreferencePageSize(int size) { m_pageSize = size; }
    // The user this server serves. Servers of several users may share one file store, to show
    // what one user may do with another's files.
    void setUser(qint64 userId, std::shared_ptr<SimFileStore> files);
    qint64 userId() const { return m_userId; }
    SimFileStore* fileStore() const { return m_files.get(); }
    SimWallpapers* wallpapers() { return &m_wallpapers; }
    void setWallpaperPageSize(int size) { m_wallpapers.setPageSize(size); }
    // The user's live wallpapers, all and his own.
    Q_INVOKABLE int wallpaperCount() const { return m_wallpapers.count(); }
    Q_INVOKABLE int ownWallpaperCount() const { return m_wallpapers.ownCount(); }
    // The largest piece of a file one download answer carries.
    static constexpr int kMaxDownloadChunk = 1024 * 1024;

    // A device of the user, connected through the returned transport: a new session, also for a
    // device signed out before.
    std::unique_ptr<Transport> connectDevice(int deviceId, const QString& name, const QString& platform);
    // A device the user has elsewhere, known to the server but not connected here.
    void seedDevice(int deviceId, const QString& name, const QString& platform, qint64 lastActive);
    Q_INVOKABLE void setDeviceOnline(int deviceId, bool online);
    bool isDeviceOnline(int deviceId) const;
    bool isUnlinked(int deviceId) const { return m_unlinked.contains(deviceId); }
    // The session-ended answer's body for a signed-out device.
    QByteArray sessionEnded(int deviceId) const;
    void setMaxDeviceCount(int count) { m_maxDevices = count; }
    int deleteTimer() const { return m_deleteTimer; }

    // Faults for one command: answer with a code, or never answer (the request is lost).
    Q_INVOKABLE void failCommand(int command, int code, int times = -1);
    Q_INVOKABLE void dropCommand(int command, int times = -1);
    // The request is carried out, but its answer is lost on the way back.
    Q_INVOKABLE void loseAnswer(int command, int times = -1);
    // The request arrives twice (a network duplicate): carried out and answered twice.
    Q_INVOKABLE void handleTwice(int command, int times = -1);
    // The sender is pushed its own change, and the push arrives before the answer.
    Q_INVOKABLE void pushBeforeAnswer(int command, int times = -1);
    Q_INVOKABLE void clearFaults();

    // Account state, for setting up and checking.
    Q_INVOKABLE void setPassword(const QString& password);
    Q_INVOKABLE void setVerification(const QString& email, bool enabled);
    QString verificationEmail() const { return m_email; }
    bool verificationEnabled() const { return m_verificationEnabled; }
    Q_INVOKABLE qint64 lockedUntil() const { return m_lockedUntil; }
    im::user::ListPrivacySettingsResp privacy() const { return m_privacy; }
    void setPrivacy(const im::user::ListPrivacySettingsResp& settings) { m_privacy = settings; }
    QMap<int, int> features() const { return m_features; }
    void setFeatures(const QMap<int, int>& features) { m_features = features; }
    std::optional<im::SharedPreference> preference(const QString& key, int type) const;
    // The keys of a type that hold a value, sorted.
    QStringList preferenceKeys(int type) const;
    // The user's files on the server that nothing the server holds names (a preference value, a
    // wallpaper, a chat's look, the account information): left behind by a client.
    QStringList unreferencedFiles() const;
    int preferenceCount() const { return int(m_preferences.size()); }
    Q_INVOKABLE int requestCount(int command) const { return m_requestCounts.value(command); }
    // The stored privacy settings as QML reads them: the switches by name, and the last-seen rule.
    Q_INVOKABLE QVariantMap privacySummary() const;
    // A chat's theme id and wallpaper, as the user last set them (command 373).
    Q_INVOKABLE QString chatThemeId(const QString& dialogId) const;
    std::optional<im::WallPaper> chatWallpaper(const QString& dialogId) const;
    // The account information of a type as stored (type 9: the alternative profile photos).
    QByteArray accountInfo(int type) const { return m_accountInfo.value(type); }
    Q_INVOKABLE int alternativePhotoCount() const;
    // A synchronised preference's value as text, empty when the server has none.
    Q_INVOKABLE QString preferenceValue(const QString& key, int type) const;

    // Everything the server holds for the user, for a server that keeps it across restarts; the
    // files are the file store's. Preferences only grow and each change takes the next step of
    // their sequence, so a keeper that has everything up to a step asks for the ones after it
    // (the state's preference_sequence says how far this one goes). Restoring replaces what the
    // server held; connected devices stay connected.
    void saveState(im::server::UserState* state, qint64 preferencesAfter = 0) const;
    void restoreState(const im::server::UserState& state);

signals:
    void requestHandled(int deviceId, int command, int code);

private:
    friend class SimTransport;
    struct Device {
        int id = 0;
        QString name;
        QString platform;
        qint64 lastActive = 0;
        QPointer<SimTransport> transport;
        bool online = true;
    };
    struct Fault {
        enum Kind { Fail, Drop, LoseAnswer, Twice, PushFirst };
        Kind kind = Fail;
        int code = 0;
        int times = -1;
    };
    struct StoredPreference {
        im::SharedPreference record;
        qint64 sequence = 0;
    };

    qint64 receive(SimTransport* from, int command, const QByteArray& body,
                   AccountBase::ResponseCallback callback);
    std::optional<Reply> handle(int deviceId, int command, const QByteArray& body);
    std::optional<Reply> dispatch(int deviceId, int command, const QByteArray& body);
    // Every file id the user's documents name, written out whole (JSON or message bytes).
    QByteArray namedBytes(bool ringtoneLists = true) const;
    // What the preferences a write (command 180) changes name now, ringtone lists aside: all its
    // change can release, without reading every document.
    QByteArray namedByWrite(const QByteArray& body) const;
    // Files of the user that a document named before a change and none names after it: the
    // server owns them with the document, so they go with it.
    void releaseUnnamed(const QByteArray& namedBefore);
    // The fault waiting for the command, used once; false when there is none.
    bool takeFault(int command, Fault& fault);

    Reply listDevices(int deviceId);
    Reply unlinkDevices(int deviceId, const QByteArray& body);
    Reply updateDeviceDeleteTimer(const QByteArray& body);
    Reply updatePrivacySetting(const QByteArray& body);
    Reply evalPrivacySetting(const QByteArray& body);
    Reply updatePrivacyForUser(const QByteArray& body);
    Reply resetVerification(const QByteArray& body);
    Reply getVerificationSetting();
    Reply verifyEmail(const QByteArray& body);
    Reply verifyPassword(const QByteArray& body);
    Reply updateVerificationSetting(const QByteArray& body);
    Reply verifyEmailByPhone(const QByteArray& body);
    Reply setFeature(const QByteArray& body, int state);
    Reply listFeatures();
    Reply listPreferences(const QByteArray& body);
    Reply updatePreferences(int deviceId, const QByteArray& body);
    Reply uploadChunk(const QByteArray& body);
    Reply completeUpload(const QByteArray& body);
    Reply downloadChunk(const QByteArray& body);
    Reply duplicateFiles(const QByteArray& body);
    Reply deleteFiles(const QByteArray& body);
    Reply updateChatTheme(const QByteArray& body);
    Reply listChatLooks() const;
    Reply updateAccountInfo(int deviceId, const QByteArray& body);
    Reply getAccountInfo(const QByteArray& body);

    std::optional<Reply> lockedReply() const;
    bool checkPassword(const QString& password, Reply& failure);
    bool checkCode(const QString& code, Reply& failure) const;
    void pushToOthers(int fromDevice, const QList<im::SharedPreference>& changed);
    void pushToOthers(int fromDevice, const QList<im::WallPaper>& changed);
    void pushToOthers(int fromDevice, int type, const QByteArray& body);
    // To every connected device of the user, the sender too (a change every device shows alike).
    void pushToAll(int type, const QByteArray& body);
    Reply wallpaperReply(int fromDevice, const SimWallpapers::Result& result);
    // Runs step after latency ms, never ahead of what was sent to the device before: answers and
    // pushes reach a device in the order the server sent them, as over one connection.
    void sendTo(int deviceId, int latencyMs, std::function<void()> step);
    void flushOutbox(int deviceId);

    std::function<qint64()> m_clock;
    int m_latencyMs = 0;
    struct Outbox {
        QList<std::pair<qint64, std::function<void()>>> queue; // due (ms of m_uptime), step
        QTimer* timer = nullptr;
    };
    QElapsedTimer m_uptime;
    std::map<int, Outbox> m_outboxes;
    // While a request with the PushFirst fault is handled: its sender hears its own pushes too.
    int m_echoTo = -1;
    int m_pageSize = 100;
    qint64 m_nextRequestId = 1;

    QMap<int, Device> m_devices;
    // Signed-out devices, by the name of the device that signed each out.
    QHash<int, QString> m_unlinked;
    int m_maxDevices = 5;
    int m_deleteTimer = 0;
    QHash<int, Fault> m_faults;
    QHash<int, int> m_requestCounts;

    im::user::ListPrivacySettingsResp m_privacy;
    QHash<qint64, im::user::PermissionsBitmap> m_userOverrides;

    QString m_password;
    QString m_email;
    bool m_verificationEnabled = false;
    qint64 m_resetAt = 0;
    int m_failedPasswords = 0;
    qint64 m_lockedUntil = 0;
    QList<qint64> m_emailsSent;
    QString m_pendingEmail;
    qint64 m_codeSentAt = 0;

    QMap<int, int> m_features;

    struct ChatLook {
        QString themeId;
        std::optional<im::WallPaper> wallpaper;
        bool bothSides = false;
    };
    QHash<QString, ChatLook> m_chatLooks;
    QHash<int, QByteArray> m_accountInfo;

    QHash<QPair<QString, int>, StoredPreference> m_preferences;
    qint64 m_sequence = 0;

    qint64 m_userId = 1;
    std::shared_ptr<SimFileStore> m_files = std::make_shared<SimFileStore>();
    SimWallpapers m_wallpapers;
};

// One device's connection to the simulated server.
class SimTransport : public QObject, public Transport {
    Q_OBJECT
public:
    SimTransport(SimServer* server, int deviceId);
    ~SimTransport() override;
    int deviceId() const { return m_deviceId; }
    qint64 send(int command, const QByteArray& body, AccountBase::ResponseCallback callback, bool flag,
                const QVariantMap& context) override;

private:
    friend class SimServer;
    QPointer<SimServer> m_server;
    int m_deviceId;
};
