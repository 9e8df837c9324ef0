#pragma once

#include "commands/settingservicecmd.h"
#include "emoji/recentemojimodel.h"
#include "preferences/sharedpreferencemodel.h"
#include "privacy/privacymodel.h"
#include "profilephotos/alternativeprofilephoto.h"
#include "refaccount.h"
#include "themes/themehandler.h"
#include "wallpapers/wallpaperhandler.h"

#include <QList>
#include <QObject>
#include <QPointer>

// One account with the module's models, made and registered in one place and run through their
// lifecycle in one fixed order. A subsystem joins by adding its models to the list in the
// constructor; everything else (registration, order, sign-out) follows from that list.
//
// start: open the account, then on every model initConnection, initData, the local loads (the
// preference store's first and alone, since others read it in theirs), then getNewData.
// stop (sign-out): prepareToClearData on every model, each waiting for its background work,
// then clearData on every model. A session ended by the server stops the same way and then
// removes the account's data from this computer.
class AccountComposition : public QObject {
    Q_OBJECT
    Q_PROPERTY(Stage stage READ stage NOTIFY stageChanged)
public:
    enum Stage { Composed, Opening, LoadingLocalData, LocalDataLoaded, Running, Stopped };
    Q_ENUM(Stage)

    // Takes the account, deleting it last; the models are its children.
    explicit AccountComposition(RefAccount* account, QObject* parent = nullptr);
    ~AccountComposition() override;

    // The whole start; the account asks the server what changed once the local copies are in.
    void start();
    // The start up to the local copies, without asking the server.
    void startLocal();
    void stop();

    Stage stage() const { return m_stage; }
    RefAccount* account() const { return m_account; }
    SettingServiceCmd* settingServiceCmd() const { return m_cmd; }
    SharedPreferenceModel* sharedPreference() const { return m_preferences; }
    PrivacyModel* privacyModel() const { return m_privacy; }
    WallpaperHandler* wallpaperHandler() const { return m_wallpapers; }
    ThemeHandler* themeHandler() const { return m_themes; }
    AlternativeProfilePhoto* alternativeProfilePhoto() const { return m_photos; }
    // The recent emoji (type Emoji) and recent reactions (type Reaction).
    RecentEmojiModel* recentEmojiModel(RecentEmojiModel::EmojiType type) const
    {
        return type == RecentEmojiModel::Emoji ? m_recentEmoji : m_recentReactions;
    }
    // Every account model, in lifecycle order.
    QList<ModelBase*> models() const;
    // Asks the server for what changed: every model's news, the account information the photos
    // live in, the chats' looks, privacy, devices, verification and features. Runs once the local
    // copies are in, and again whenever the account comes back online (pushes sent while it was
    // away never reached it).
    void askForNews();

signals:
    void stageChanged();

private:
    struct Model {
        ModelBase* lifecycle = nullptr;
        QPointer<QObject> object;
        // Loads its local copy without the preference store's, so alongside it.
        bool loadsAlone = false;
    };
    // Registers a model under the getter of type Slot and, if it has a lifecycle, lists it.
    template <class Slot, class T> T* add(T* model);
    // A model the account has no getter for: run through the lifecycle only.
    template <class T> T* addUnregistered(T* model);
    // Runs step when sender signals, if the start is still waiting in that stage.
    template <class Sender, class Signal>
    void continueOn(Sender* sender, Signal signal, Stage waitingIn, void (AccountComposition::*step)());
    void setStage(Stage stage);
    void open();
    void loadLocalData();
    void loadOthers();
    void wirePushRoutes();
    void wireAccountInfo();

    RefAccount* m_account;
    QList<Model> m_models;
    QPointer<SettingServiceCmd> m_cmd;
    QPointer<SharedPreferenceModel> m_preferences;
    QPointer<PrivacyModel> m_privacy;
    QPointer<WallpaperHandler> m_wallpapers;
    QPointer<ThemeHandler> m_themes;
    QPointer<RecentEmojiModel> m_recentEmoji;
    QPointer<AlternativeProfilePhoto> m_photos;
    QPointer<RecentEmojiModel> m_recentReactions;
    Stage m_stage = Composed;
    bool m_fetch = true;
};
