#include "accountcomposition.h"

#include "commands/settingservicecmd.h"
#include "emoji/statusshortcut.h"
#include "host/modelbase.h"
#include "host/threadmanager.h"
#include "im/notif.pb.h"
#include "notifications/groupmutedsettingmodel.h"
#include "notifications/ringtonemanager.h"
#include "preferences/sharedpreferencemodel.h"
#include "privacy/privacymodel.h"
#include "refcontacts.h"
#include "themes/themehandler.h"
#include "transport.h"
#include "wallpapers/wallpaperhandler.h"

#include <type_traits>

AccountComposition::AccountComposition(RefAccount* account, QObject* parent)
    : QObject(parent),
      m_account(account)
{
    // The module's models, in the order their lifecycle runs. The preference store comes first:
    // other models read it, and register as owners of its types when they connect.
    m_cmd = add<SettingServiceCmd>(new SettingServiceCmd(m_account));
    m_preferences = add<SharedPreferenceBase>(new SharedPreferenceModel(m_account));
    m_privacy = add<PrivacyModel>(new PrivacyModel(m_account));
    add<GroupMutedSettingModel>(new GroupMutedSettingModel(m_account));
    m_models.last().loadsAlone = true; // reads its one row on its parser
    add<RingtoneManager>(new RingtoneManager(m_account));
    m_wallpapers = add<WallpaperHandler>(new WallpaperHandler(m_account));
    m_models.last().loadsAlone = true; // its own table, read on a worker
    m_themes = add<ThemeHandler>(new ThemeHandler(m_account));
    add<StatusShortCut>(new StatusShortCut(m_account));
    m_recentEmoji = addUnregistered(new RecentEmojiModel(m_account, RecentEmojiModel::Emoji));
    m_recentReactions = addUnregistered(new RecentEmojiModel(m_account, RecentEmojiModel::Reaction));
    m_photos = new AlternativeProfilePhoto(m_account);
    wirePushRoutes();
    wireAccountInfo();
    // Signed out from elsewhere: the models let their data go, and the account's data leaves
    // this computer (it belongs to the user, not to this device any more).
    connect(m_account, &RefAccount::sessionEnded, this, [this] {
        stop();
        m_account->removeLocalData();
    });
    connect(m_account, &RefAccount::onlineChanged, this, [this] {
        if (m_stage == Running && m_account->isOnline())
            askForNews();
    });
    // A wallpaper whose upload failed waits for a retry: a change not on the server yet.
    QPointer<WallpaperHandler> wallpapers = m_wallpapers;
    m_account->setUnsentSource(
        [wallpapers] { return wallpapers ? int(wallpapers->failedUploads().size()) : 0; });
}

void AccountComposition::wireAccountInfo()
{
    // The alternative photos are the account information of their type: the answers to this
    // device's updates, its fetches and the pushes of the others' reach the list.
    QPointer<AlternativeProfilePhoto> photos = m_photos;
    const auto apply = [photos](int type, const QByteArray& info) {
        im::AlternativePhotos message;
        if (!photos || type != AlternativeProfilePhoto::kAccountInfoType ||
            !message.ParseFromArray(info.constData(), int(info.size())))
            return false;
        photos->updateAlternativePhoto(message);
        return true;
    };
    RefUserServiceCmd* cmd = m_account->refUserManager()->refUserServiceCmd();
    connect(cmd, &RefUserServiceCmd::accountInfoFetched, this, apply);
    connect(cmd, &RefUserServiceCmd::accountInfoUpdated, this, [photos](int type, const QByteArray& info) {
        im::AlternativePhotos message;
        if (!photos || type != AlternativeProfilePhoto::kAccountInfoType)
            return;
        if (message.ParseFromArray(info.constData(), int(info.size())))
            photos->answerUpdate(message);
        else
            photos->updateProfilePhotoFailed();
    });
    connect(cmd, &RefUserServiceCmd::accountInfoUpdateFailed, this, [photos](int type, int) {
        if (photos && type == AlternativeProfilePhoto::kAccountInfoType)
            photos->updateProfilePhotoFailed();
    });
    m_account->setPushRoute(PushAccountInfoUpdated, [apply](const QByteArray& body) {
        im::notif::AccountInfoUpdatedNotif notif;
        return notif.ParseFromArray(body.constData(), int(body.size())) &&
               apply(notif.type(), QByteArray::fromStdString(notif.info()));
    });
}

AccountComposition::~AccountComposition()
{
    stop();
    delete m_account;
}

template <class Slot, class T> T* AccountComposition::add(T* model)
{
    m_account->registerModel<Slot>(model);
    if constexpr (std::is_base_of_v<ModelBase, T>)
        m_models.append(Model{model, model});
    return model;
}

template <class T> T* AccountComposition::addUnregistered(T* model)
{
    m_models.append(Model{model, model});
    return model;
}

QList<ModelBase*> AccountComposition::models() const
{
    QList<ModelBase*> lifecycles;
    for (const Model& model : m_models) {
        if (model.object)
            lifecycles.append(model.lifecycle);
    }
    return lifecycles;
}

void AccountComposition::wirePushRoutes()
{
    QPointer<SharedPreferenceModel> preferences = m_preferences;
    m_account->setPushRoute(PushSharedPreferenceUpdated, [preferences](const QByteArray& body) {
        im::notif::SharedPreferenceUpdatedNotif notif;
        if (!preferences || !notif.ParseFromArray(body.constData(), int(body.size())))
            return false;
        preferences->sharedPreferencesNotify(notif);
        return true;
    });
    QPointer<WallpaperHandler> wallpapers = m_wallpapers;
    m_account->setPushRoute(PushWallpaperUpdated, [wallpapers](const QByteArray& body) {
        im::notif::WallpaperUpdatedNotif notif;
        if (!wallpapers || !notif.ParseFromArray(body.constData(), int(body.size())))
            return false;
        wallpapers->wallpaperUpdateNotif(notif);
        return true;
    });
}

template <class Sender, class Signal>
void AccountComposition::continueOn(Sender* sender, Signal signal, Stage waitingIn,
                                    void (AccountComposition::*step)())
{
    // Once: a stop meanwhile leaves the start where it was.
    connect(
        sender, signal, this,
        [this, waitingIn, step] {
            if (m_stage == waitingIn)
                (this->*step)();
        },
        Qt::SingleShotConnection);
}

void AccountComposition::setStage(Stage stage)
{
    if (m_stage == stage)
        return;
    m_stage = stage;
    emit stageChanged();
}

void AccountComposition::start()
{
    m_fetch = true;
    open();
}

void AccountComposition::startLocal()
{
    m_fetch = false;
    open();
}

void AccountComposition::open()
{
    if (m_stage != Composed)
        return;
    setStage(Opening);
    if (m_account->isReady()) {
        loadLocalData();
        return;
    }
    continueOn(m_account, &RefAccount::readyChanged, Opening, &AccountComposition::loadLocalData);
    m_account->open();
}

void AccountComposition::loadLocalData()
{
    const QList<ModelBase*> lifecycles = models();
    for (ModelBase* model : lifecycles)
        model->initConnection();
    for (ModelBase* model : lifecycles)
        model->initData();
    setStage(LoadingLocalData);
    for (const Model& model : std::as_const(m_models)) {
        if (model.loadsAlone && model.object)
            model.lifecycle->loadLocalData(false);
    }
    if (!m_preferences || m_preferences->localDataLoaded()) {
        loadOthers();
        return;
    }
    continueOn(m_preferences.data(), &SharedPreferenceModel::localDataLoadedChanged, LoadingLocalData,
               &AccountComposition::loadOthers);
    m_preferences->loadLocalData(false);
}

void AccountComposition::loadOthers()
{
    for (const Model& model : std::as_const(m_models)) {
        if (model.object && !model.loadsAlone && model.lifecycle != m_preferences.data())
            model.lifecycle->loadLocalData(false);
    }
    setStage(LocalDataLoaded);
    if (!m_fetch)
        return;
    // Offline, the news are asked for once the account is online.
    if (m_account->isOnline())
        askForNews();
    setStage(Running);
}

void AccountComposition::askForNews()
{
    for (ModelBase* model : models())
        model->getNewData();
    m_account->refUserManager()->refUserServiceCmd()->fetchAccountInfo(
        AlternativeProfilePhoto::kAccountInfoType);
    m_account->fetchChatLooks();
    if (m_cmd) {
        m_cmd->listPrivacySettings();
        m_cmd->listDevices();
        m_cmd->getVerificationSetting();
        m_cmd->listFeatures();
    }
}

void AccountComposition::stop()
{
    if (m_stage == Stopped)
        return;
    setStage(Stopped);
    const QList<ModelBase*> lifecycles = models();
    // Owners flush what they hold (the theme handler's pending colours) through the store before
    // the store lets its data go.
    ModelBase* store = m_preferences ? static_cast<ModelBase*>(m_preferences.data()) : nullptr;
    for (ModelBase* model : lifecycles) {
        if (model != store)
            model->prepareToClearData(false);
    }
    if (store)
        store->prepareToClearData(false);
    for (ModelBase* model : lifecycles)
        model->clearData(false);
}
