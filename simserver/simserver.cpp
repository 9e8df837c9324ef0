#include "simserver.h"

#include "simstate.pb.h"

#include "host/cryptoaes.h"

#include "im/account.pb.h"
#include "im/chat.pb.h"
#include "im/feature.pb.h"
#include "im/file.pb.h"
#include "im/misc.pb.h"
#include "im/notif.pb.h"
#include "im/session.pb.h"

#include <QDateTime>
#include <QTimer>
#include <QVariantMap>

#include <algorithm>

const char* const SimServer::kVerificationCode = "123456";

namespace {

template <class Message> bool parse(Message& message, const QByteArray& body)
{
    return message.ParseFromArray(body.constData(), int(body.size()));
}

template <class Message> QByteArray bytesOf(const Message& message)
{
    return QByteArray::fromStdString(message.SerializeAsString());
}

bool validRange(const im::user::UserRange& range)
{
    return range.rule() >= 0 && range.rule() <= 4;
}

// Whether a rule lets a user see: lists decide first, then the base audience.
bool visibleUnder(const im::user::UserRange& range, qint64 userId, bool contact)
{
    const auto has = [userId](const auto& ids) {
        return std::find(ids.begin(), ids.end(), userId) != ids.end();
    };
    if (has(range.blacklist()))
        return false;
    if (has(range.whitelist()))
        return true;
    switch (range.rule()) {
    case 0: return true;
    case 1: return contact;
    case 3: return contact;
    case 4: return !contact;
    default: return false;
    }
}

} // namespace

SimServer::SimServer(QObject* parent)
    : QObject(parent),
      m_wallpapers([this] { return now(); }, m_files.get(), m_userId)
{
    m_uptime.start();
}

void SimServer::sendTo(int deviceId, int latencyMs, std::function<void()> step)
{
    Outbox& box = m_outboxes[deviceId];
    qint64 due = m_uptime.elapsed() + latencyMs;
    if (!box.queue.isEmpty())
        due = std::max(due, box.queue.constLast().first);
    box.queue.append({due, std::move(step)});
    if (!box.timer) {
        box.timer = new QTimer(this);
        box.timer->setSingleShot(true);
        connect(box.timer, &QTimer::timeout, this, [this, deviceId] { flushOutbox(deviceId); });
    }
    if (!box.timer->isActive())
        box.timer->start(int(std::max<qint64>(0, box.queue.constFirst().first - m_uptime.elapsed())));
}

void SimServer::flushOutbox(int deviceId)
{
    // A step may send more (a device answers a push with a request): looked up again each time.
    while (true) {
        Outbox& box = m_outboxes[deviceId];
        if (box.queue.isEmpty())
            return;
        const qint64 wait = box.queue.constFirst().first - m_uptime.elapsed();
        if (wait > 0) {
            box.timer->start(int(wait));
            return;
        }
        const std::function<void()> step = box.queue.takeFirst().second;
        step();
    }
}

SimServer::~SimServer()
{
    for (const Device& device : std::as_const(m_devices)) {
        if (device.transport)
            device.transport->m_server = nullptr;
    }
}

qint64 SimServer::now() const
{
    return m_clock ? m_clock() : QDateTime::currentMSecsSinceEpoch();
}

std::unique_ptr<Transport> SimServer::connectDevice(int deviceId, const QString& name,
                                                    const QString& platform)
{
    auto transport = std::make_unique<SimTransport>(this, deviceId);
    Device& device = m_devices[deviceId];
    device.id = deviceId;
    device.name = name;
    device.platform = platform;
    device.lastActive = now();
    device.transport = transport.get();
    device.online = true;
    m_unlinked.remove(deviceId);
    return transport;
}

void SimServer::setUser(qint64 userId, std::shared_ptr<SimFileStore> files)
{
    m_userId = userId;
    if (files)
        m_files = std::move(files);
    m_wallpapers.setFileStore(m_files.get(), m_userId);
}

void SimServer::seedDevice(int deviceId, const QString& name, const QString& platform, qint64 lastActive)
{
    Device& device = m_devices[deviceId];
    device.id = deviceId;
    device.name = name;
    device.platform = platform;
    device.lastActive = lastActive;
    device.online = false;
}

void SimServer::setDeviceOnline(int deviceId, bool online)
{
    if (m_devices.contains(deviceId))
        m_devices[deviceId].online = online;
}

bool SimServer::isDeviceOnline(int deviceId) const
{
    return m_devices.value(deviceId).online;
}

void SimServer::failCommand(int command, int code, int times)
{
    m_faults.insert(command, {Fault::Fail, code, times});
}

void SimServer::dropCommand(int command, int times)
{
    m_faults.insert(command, {Fault::Drop, 0, times});
}

void SimServer::loseAnswer(int command, int times)
{
    m_faults.insert(command, {Fault::LoseAnswer, 0, times});
}

void SimServer::handleTwice(int command, int times)
{
    m_faults.insert(command, {Fault::Twice, 0, times});
}

void SimServer::pushBeforeAnswer(int command, int times)
{
    m_faults.insert(command, {Fault::PushFirst, 0, times});
}

void SimServer::clearFaults()
{
    m_faults.clear();
}

void SimServer::setVerification(const QString& email, bool enabled)
{
    m_email = email;
    m_verificationEnabled = enabled;
}

std::optional<im::SharedPreference> SimServer::preference(const QString& key, int type) const
{
    const auto it = m_preferences.constFind(qMakePair(key, type));
    if (it == m_preferences.cend())
        return std::nullopt;
    return it->record;
}

QStringList SimServer::preferenceKeys(int type) const
{
    QStringList keys;
    for (auto it = m_preferences.cbegin(); it != m_preferences.cend(); ++it) {
        if (it.key().second == type && !it->record.value().empty())
            keys.append(it.key().first);
    }
    keys.sort();
    return keys;
}

QVariantMap SimServer::privacySummary() const
{
    QVariantList black;
    for (int id : m_privacy.lastseen().blacklist())
        black.append(id);
    QVariantList white;
    for (int id : m_privacy.lastseen().whitelist())
        white.append(id);
    QVariantList groupBlack;
    for (int id : m_privacy.lastseen().group_blacklist())
        groupBlack.append(id);
    return {{QStringLiteral("findMeByPhone"), m_privacy.find_me_by_phone()},
            {QStringLiteral("findMeById"), m_privacy.find_me_by_id()},
            {QStringLiteral("enableStrangerChat"), m_privacy.enable_stranger_chat()},
            {QStringLiteral("lastseenRule"), m_privacy.lastseen().rule()},
            {QStringLiteral("lastseenBlacklist"), black},
            {QStringLiteral("lastseenWhitelist"), white},
            {QStringLiteral("lastseenGroupBlacklist"), groupBlack}};
}

QString SimServer::preferenceValue(const QString& key, int type) const
{
    const auto record = preference(key, type);
    return record ? QString::fromStdString(record->value()) : QString();
}

bool SimServer::takeFault(int command, Fault& fault)
{
    auto it = m_faults.find(command);
    if (it == m_faults.end())
        return false;
    fault = *it;
    if (it->times > 0 && --it->times == 0)
        m_faults.erase(it);
    return true;
}

qint64 SimServer::receive(SimTransport* from, int command, const QByteArray& body,
                          AccountBase::ResponseCallback callback)
{
    const qint64 id = m_nextRequestId++;
    const int deviceId = from->deviceId();
    m_requestCounts[command]++;
    std::optional<Reply> reply;
    QList<Reply> replies;
    const bool reachable = isDeviceOnline(deviceId) && !m_unlinked.contains(deviceId);
    Fault fault{Fault::Fail, 0, 0};
    const bool faulty = reachable && takeFault(command, fault);
    if (!isDeviceOnline(deviceId)) {
        reply = Reply{kNetworkError, {}};
    } else if (m_unlinked.contains(deviceId)) {
        reply = Reply{kUnauthorized, sessionEnded(deviceId)};
    } else if (faulty && fault.kind == Fault::Fail) {
        reply = Reply{fault.code, {}};
    } else if (faulty && fault.kind == Fault::Drop) {
        return id; // lost on the way: the device never hears back
    } else {
        m_devices[deviceId].lastActive = now();
        if (faulty && fault.kind == Fault::PushFirst)
            m_echoTo = deviceId;
        reply = handle(deviceId, command, body);
        m_echoTo = -1;
        if (faulty && fault.kind == Fault::Twice)
            replies.append(handle(deviceId, command, body).value_or(Reply{}));
        if (faulty && fault.kind == Fault::LoseAnswer)
            return id; // carried out, but the answer is lost on the way back
    }
    if (!reply)
        return id;
    replies.prepend(*reply);
    // Answers travel with the latency and carry the server's clock.
    QPointer<SimTransport> transport(from);
    for (const Reply& answer : std::as_const(replies)) {
        sendTo(deviceId, m_latencyMs, [this, transport, deviceId, command, answer, callback] {
            emit requestHandled(deviceId, command, answer.code);
            if (!transport)
                return;
            if (answer.code != kNetworkError)
                transport->deliverServerTime(now());
            callback(answer.code, answer.body);
        });
    }
    return id;
}

std::optional<SimServer::Reply> SimServer::handle(int deviceId, int command, const QByteArray& body)
{
    const bool changesDocuments = command == 180 || command == 242 || command == 243 || command == 245 ||
                                  command == 373 || command == AccountInfoUpdate;
    if (!changesDocuments)
        return dispatch(deviceId, command, body);
    // The custom ringtone list is merged by the devices, so a write may overwrite a ringtone a
    // later write brings back: its files are deleted by the devices, never with the list.
    const QByteArray before = command == 180 ? namedByWrite(body) : namedBytes(false);
    std::optional<Reply> reply = dispatch(deviceId, command, body);
    releaseUnnamed(before);
    return reply;
}

std::optional<SimServer::Reply> SimServer::dispatch(int deviceId, int command, const QByteArray& body)
{
    switch (command) {
    case 46: return listDevices(deviceId);
    case 47: return unlinkDevices(deviceId, body);
    case 121: return Reply{0, bytesOf(m_privacy)};
    case 122: return updatePrivacySetting(body);
    case 139: return resetVerification(body);
    case 151: return getVerificationSetting();
    case 152: return verifyEmail(body);
    case 153: return verifyPassword(body);
    case 154: return updateVerificationSetting(body);
    case 155: return verifyEmailByPhone(body);
    case 156: return evalPrivacySetting(body);
    case 157: return updatePrivacyForUser(body);
    case 172: return setFeature(body, 1);
    case 173: return setFeature(body, 2);
    case 174: return listFeatures();
    case 178: return listPreferences(body);
    case 180: return updatePreferences(deviceId, body);
    case 274: return updateDeviceDeleteTimer(body);
    case 241: return wallpaperReply(deviceId, m_wallpapers.list(body));
    case 242: return wallpaperReply(deviceId, m_wallpapers.save(body));
    case 243: return wallpaperReply(deviceId, m_wallpapers.remove(body));
    case 244: return wallpaperReply(deviceId, m_wallpapers.get(body));
    case 245: return wallpaperReply(deviceId, m_wallpapers.reset());
    case 373: return updateChatTheme(body);
    case ChatLooksGet: return listChatLooks();
    case AccountInfoUpdate: return updateAccountInfo(deviceId, body);
    case AccountInfoGet: return getAccountInfo(body);
    case FileUploadChunk: return uploadChunk(body);
    case FileCompleteUpload: return completeUpload(body);
    case FileDownloadChunk: return downloadChunk(body);
    case FileDuplicate: return duplicateFiles(body);
    case FileDelete: return deleteFiles(body);
    default: return Reply{kNotFound, {}};
    }
}

// ---- devices ----

SimServer::Reply SimServer::listDevices(int deviceId)
{
    im::user::ListDevicesResp resp;
    for (const Device& device : std::as_const(m_devices)) {
        if (m_unlinked.contains(device.id))
            continue;
        auto* d = resp.add_devices();
        d->set_id(device.id);
        d->set_name(device.name.toStdString());
        d->set_platform(device.platform.toStdString());
        d->set_last_active(device.lastActive);
        d->set_current(device.id == deviceId);
    }
    resp.set_max_device_count(m_maxDevices);
    resp.set_delete_timer(m_deleteTimer);
    return {0, bytesOf(resp)};
}

QByteArray SimServer::sessionEnded(int deviceId) const
{
    im::session::SessionEnded ended;
    ended.set_by_device(m_unlinked.value(deviceId).toStdString());
    ended.set_ended_at(now());
    return bytesOf(ended);
}

SimServer::Reply SimServer::unlinkDevices(int deviceId, const QByteArray& body)
{
    im::user::UnlinkDevicesReq req;
    if (!parse(req, body))
        return {kBadRequest, {}};
    if (m_verificationEnabled) {
        Reply failure;
        if (!checkPassword(QString::fromStdString(req.password()), failure))
            return failure;
    }
    for (int id : req.device_ids()) {
        if (!m_devices.contains(id) || m_unlinked.contains(id))
            continue;
        m_unlinked.insert(id, m_devices.value(deviceId).name);
        // A connected device hears it at once; one away hears it at its next request.
        const Device& device = m_devices[id];
        if (!device.online || !device.transport)
            continue;
        QPointer<SimTransport> transport = device.transport;
        const QByteArray ended = sessionEnded(id);
        sendTo(id, m_latencyMs, [transport, ended] {
            if (transport)
                transport->deliverPush(PushSessionEnded, ended);
        });
    }
    return {0, {}};
}

SimServer::Reply SimServer::updateDeviceDeleteTimer(const QByteArray& body)
{
    im::user::UpdateDeviceDeleteTimerReq req;
    if (!parse(req, body) || req.timer_type() < 0)
        return {kBadRequest, {}};
    m_deleteTimer = req.timer_type();
    return {0, {}};
}

// ---- privacy ----

SimServer::Reply SimServer::updatePrivacySetting(const QByteArray& body)
{
    using Req = im::user::UpdatePrivacySettingReq;
    Req req;
    if (!parse(req, body))
        return {kBadRequest, {}};
    auto& s = m_privacy;
    // A rule is stored whole, once its audience is one the server knows.
    const auto storeRange = [](const im::user::UserRange& range, im::user::UserRange* target) {
        if (!validRange(range))
            return Reply{kBadRequest, {}};
        *target = range;
        return Reply{0, {}};
    };
    switch (req.setting_case()) {
    case Req::kLastseen: return storeRange(req.lastseen(), s.mutable_lastseen());
    case Req::kCall: return storeRange(req.call(), s.mutable_call());
    case Req::kShowRealPhoto: return storeRange(req.show_real_photo(), s.mutable_show_real_photo());
    case Req::kShowAlternativePhoto:
        return storeRange(req.show_alternative_photo(), s.mutable_show_alternative_photo());
    case Req::kForwardMyMessage: return storeRange(req.forward_my_message(), s.mutable_forward_my_message());
    case Req::kShowUserStatus: return storeRange(req.show_user_status(), s.mutable_show_user_status());
    case Req::kFindMeByPhone: s.set_find_me_by_phone(req.find_me_by_phone()); break;
    case Req::kFindMeById: s.set_find_me_by_id(req.find_me_by_id()); break;
    case Req::kEnableStrangerChat: s.set_enable_stranger_chat(req.enable_stranger_chat()); break;
    case Req::kDeletetimer:
        if (!im::user::DeleteTimer_IsValid(req.deletetimer()))
            return {kBadRequest, {}};
        s.set_deletetimer(req.deletetimer());
        break;
    case Req::kEnableSecurityNotif: s.set_enable_security_notif(req.enable_security_notif()); break;
    case Req::kAutoUnarchiveDialog: s.set_auto_unarchive_dialog(req.auto_unarchive_dialog()); break;
    case Req::kAutoAcceptContact: s.set_auto_accept_contact(req.auto_accept_contact()); break;
    case Req::kNewChatSelfDestructTime:
        if (req.new_chat_self_destruct_time() < 0)
            return {kBadRequest, {}};
        s.set_new_chat_self_destruct_time(req.new_chat_self_destruct_time());
        break;
    case Req::kNewChatMessageLimit:
        if (req.new_chat_message_limit().count() < 0 || req.new_chat_message_limit().days() < 0)
            return {kBadRequest, {}};
        *s.mutable_new_chat_message_limit() = req.new_chat_message_limit();
        break;
    case Req::kAutoUnarchiveMutedDialog:
        s.set_auto_unarchive_muted_dialog(req.auto_unarchive_muted_dialog());
        break;
    case Req::kAutoUnarchiveDialogInFolder:
        s.set_auto_unarchive_dialog_in_folder(req.auto_unarchive_dialog_in_folder());
        break;
    case Req::SETTING_NOT_SET: return {kBadRequest, {}};
    }
    return {0, {}};
}

SimServer::Reply SimServer::evalPrivacySetting(const QByteArray& body)
{
    im::user::EvalPrivacySettingReq req;
    if (!parse(req, body))
        return {kBadRequest, {}};
    im::user::EvalPrivacySettingResp resp;
    const auto overridden = m_userOverrides.constFind(req.user_id());
    if (overridden != m_userOverrides.cend()) {
        *resp.mutable_permissions() = *overridden;
        return {0, bytesOf(resp)};
    }
    // One bit per rule: last seen, calls, real photo, forwards, status. Role 1 is a contact.
    const bool contact = req.override_role() == 1;
    const im::user::UserRange* rules[] = {&m_privacy.lastseen(), &m_privacy.call(),
                                          &m_privacy.show_real_photo(), &m_privacy.forward_my_message(),
                                          &m_privacy.show_user_status()};
    qint64 bits = 0;
    for (int i = 0; i < 5; ++i) {
        if (visibleUnder(*rules[i], req.user_id(), contact))
            bits |= qint64(1) << i;
    }
    resp.mutable_permissions()->set_bits(bits);
    resp.mutable_permissions()->set_length(5);
    return {0, bytesOf(resp)};
}

SimServer::Reply SimServer::updatePrivacyForUser(const QByteArray& body)
{
    im::user::UpdatePrivacyForUserReq req;
    if (!parse(req, body) || req.user_id() < 1)
        return {kBadRequest, {}};
    m_userOverrides.insert(req.user_id(), req.permissions());
    return {0, {}};
}

// ---- verification ----

std::optional<SimServer::Reply> SimServer::lockedReply() const
{
    if (m_lockedUntil <= now())
        return std::nullopt;
    im::PasswordLockedErrorData data;
    data.set_lock_until(m_lockedUntil);
    return Reply{kPasswordLocked, bytesOf(data)};
}

void SimServer::setPassword(const QString& password)
{
    CryptoAES::markSecret(password.toUtf8());
    m_password = password;
}

bool SimServer::checkPassword(const QString& password, Reply& failure)
{
    CryptoAES::markSecret(password.toUtf8());
    if (const auto locked = lockedReply()) {
        failure = *locked;
        return false;
    }
    if (password == m_password) {
        m_failedPasswords = 0;
        return true;
    }
    if (++m_failedPasswords >= kPasswordAttempts) {
        m_failedPasswords = 0;
        m_lockedUntil = now() + kLockMs;
        failure = *lockedReply();
    } else {
        failure = {kUnauthorized, {}};
    }
    return false;
}

bool SimServer::checkCode(const QString& code, Reply& failure) const
{
    if (m_codeSentAt == 0 || code != QLatin1String(kVerificationCode)) {
        failure = {kWrongCode, {}};
        return false;
    }
    if (now() - m_codeSentAt > kCodeLifetimeMs) {
        failure = {kCodeExpired, {}};
        return false;
    }
    return true;
}

SimServer::Reply SimServer::resetVerification(const QByteArray& body)
{
    im::account::ResetVerificationReq req;
    if (!parse(req, body))
        return {kBadRequest, {}};
    im::account::ResetVerificationResp resp;
    if (req.cancel()) {
        m_resetAt = 0;
        return {0, bytesOf(resp)};
    }
    if (m_resetAt > now()) {
        resp.set_reset_at(m_resetAt);
        return {kResetPending, bytesOf(resp)};
    }
    m_resetAt = now() + kResetDelayMs;
    resp.set_reset_at(m_resetAt);
    return {0, bytesOf(resp)};
}

SimServer::Reply SimServer::getVerificationSetting()
{
    im::user::GetVerificationSettingResp resp;
    resp.set_email(m_email.toStdString());
    resp.set_enabled(m_verificationEnabled);
    resp.set_reset_at(m_resetAt);
    return {0, bytesOf(resp)};
}

SimServer::Reply SimServer::verifyEmail(const QByteArray& body)
{
    im::user::VerifyEmailReq req;
    if (!parse(req, body))
        return {kBadRequest, {}};
    if (const auto locked = lockedReply())
        return *locked;
    const qint64 t = now();
    m_emailsSent.removeIf([t](qint64 sent) { return t - sent >= 60 * 1000; });
    if (m_emailsSent.size() >= kEmailsPerMinute)
        return {kTooFrequent, {}};
    const QString email = QString::fromStdString(req.email());
    const qsizetype at = email.indexOf(QLatin1Char('@'));
    if (at <= 0 || at == email.size() - 1)
        return {kInvalidEmail, {}};
    m_emailsSent.append(t);
    m_pendingEmail = email;
    m_codeSentAt = t;
    return {0, {}};
}

SimServer::Reply SimServer::verifyPassword(const QByteArray& body)
{
    im::user::VerifyPasswordReq req;
    if (!parse(req, body))
        return {kBadRequest, {}};
    Reply failure;
    im::user::VerifyPasswordResp resp;
    if (checkPassword(QString::fromStdString(req.password()), failure)) {
        resp.set_valid(true);
        return {0, bytesOf(resp)};
    }
    if (failure.code == kPasswordLocked)
        return failure;
    return {0, bytesOf(resp)}; // a wrong password is a valid answer: not valid
}

SimServer::Reply SimServer::updateVerificationSetting(const QByteArray& body)
{
    im::user::UpdateVerificationSettingReq req;
    if (!parse(req, body))
        return {kBadRequest, {}};
    if (const auto locked = lockedReply())
        return *locked;
    Reply failure;
    const QString password = QString::fromStdString(req.password());
    CryptoAES::markSecret(password.toUtf8());
    const QString code = QString::fromStdString(req.verify_code());
    switch (req.action()) {
    case 0: // enable: a new password and a confirmed e-mail
        if (!checkCode(code, failure))
            return failure;
        m_password = password;
        m_email = QString::fromStdString(req.email());
        m_verificationEnabled = true;
        break;
    case 1:
        if (!checkPassword(password, failure))
            return failure;
        m_verificationEnabled = false;
        m_email.clear();
        m_resetAt = 0;
        break;
    case 2:
        if (!checkPassword(password, failure))
            return failure;
        m_password = QString::fromStdString(req.new_password());
        break;
    case 3:
        if (!checkPassword(password, failure) || !checkCode(code, failure))
            return failure;
        m_email = QString::fromStdString(req.email());
        break;
    default: return {kBadRequest, {}};
    }
    return {0, {}};
}

SimServer::Reply SimServer::verifyEmailByPhone(const QByteArray& body)
{
    im::user::VerifyEmailByPhoneReq req;
    if (!parse(req, body))
        return {kBadRequest, {}};
    return {req.code() == kVerificationCode ? 0 : kWrongCode, {}};
}

// ---- features ----

SimServer::Reply SimServer::setFeature(const QByteArray& body, int state)
{
    im::feature::EnableFeatureReq req; // both requests carry just the feature id
    if (!parse(req, body) || req.feature_id() <= 0)
        return {kBadRequest, {}};
    m_features.insert(req.feature_id(), state);
    return {0, {}};
}

SimServer::Reply SimServer::listFeatures()
{
    im::feature::ListFeaturesResp resp;
    for (auto it = m_features.cbegin(); it != m_features.cend(); ++it) {
        auto* f = resp.add_features();
        f->set_feature_id(it.key());
        f->set_state(it.value());
    }
    return {0, bytesOf(resp)};
}

// ---- shared preferences ----

SimServer::Reply SimServer::listPreferences(const QByteArray& body)
{
    im::misc::ListSharedPreferencesReq req;
    if (!parse(req, body))
        return {kBadRequest, {}};
    // The offset is the sequence of the last change the device has seen.
    QList<const StoredPreference*> newer;
    for (const StoredPreference& stored : std::as_const(m_preferences)) {
        if (stored.sequence > req.offset())
            newer.append(&stored);
    }
    std::sort(newer.begin(), newer.end(), [](auto* a, auto* b) { return a->sequence < b->sequence; });
    im::misc::ListSharedPreferencesResp resp;
    const int count = int(std::min<qsizetype>(newer.size(), m_pageSize));
    for (int i = 0; i < count; ++i)
        *resp.add_preferences() = newer.at(i)->record;
    resp.set_next_offset(count > 0 ? newer.at(count - 1)->sequence : req.offset());
    resp.set_has_more(newer.size() > count);
    return {0, bytesOf(resp)};
}

SimServer::Reply SimServer::updatePreferences(int deviceId, const QByteArray& body)
{
    im::misc::UpdateSharedPreferencesV2Req req;
    if (!parse(req, body))
        return {kBadRequest, {}};
    im::misc::UpdateSharedPreferencesV2Resp resp;
    QList<im::SharedPreference> changed;
    for (const im::SharedPreference& record : req.preferences()) {
        if (record.key().empty())
            return {kBadRequest, {}};
        StoredPreference& stored =
            m_preferences[qMakePair(QString::fromStdString(record.key()), record.type())];
        // The greater version wins; an equal one keeps what the server has.
        if (stored.sequence == 0 || record.version() > stored.record.version()) {
            stored.record = record;
            stored.sequence = ++m_sequence;
            changed.append(record);
        }
        *resp.add_preferences() = stored.record;
    }
    pushToOthers(deviceId, changed);
    return {0, bytesOf(resp)};
}

// ---- a chat's look ----

namespace {
im::chat::ChatLook lookMessage(const QString& dialogId, const QString& themeId,
                               const std::optional<im::WallPaper>& wallpaper, bool bothSides)
{
    im::chat::ChatLook message;
    message.set_dialog_id(dialogId.toStdString());
    message.set_theme_id(themeId.toStdString());
    if (wallpaper)
        *message.mutable_wallpaper() = *wallpaper;
    message.set_both_sides(bothSides);
    return message;
}
} // namespace

SimServer::Reply SimServer::listChatLooks() const
{
    im::chat::ListChatLooksResp resp;
    for (auto it = m_chatLooks.cbegin(); it != m_chatLooks.cend(); ++it)
        *resp.add_looks() = lookMessage(it.key(), it->themeId, it->wallpaper, it->bothSides);
    return {0, bytesOf(resp)};
}

SimServer::Reply SimServer::updateChatTheme(const QByteArray& body)
{
    im::chat::UpdateThemeReq req;
    if (!parse(req, body) || req.dialog_id().empty() || (!req.has_theme() && !req.has_wallpaper()))
        return {kBadRequest, {}};
    if (req.has_wallpaper()) {
        // A chat's wallpaper names files every member may read: the user's own copies.
        for (const im::Photo* photo :
             {&req.wallpaper().photo_set().lo_res(), &req.wallpaper().photo_set().hi_res()}) {
            if (!photo->file_id().empty() &&
                !m_files->readable(m_userId, QString::fromStdString(photo->file_id())))
                return {kUnprocessable, {}};
        }
    }
    ChatLook& look = m_chatLooks[QString::fromStdString(req.dialog_id())];
    if (req.has_theme())
        look.themeId = QString::fromStdString(req.theme().id());
    if (req.has_wallpaper()) {
        const bool empty = req.wallpaper().ByteSizeLong() == 0;
        look.wallpaper = empty ? std::nullopt : std::optional<im::WallPaper>(req.wallpaper());
        look.bothSides = req.both_sides();
    }
    const QString dialogId = QString::fromStdString(req.dialog_id());
    pushToAll(PushChatLookUpdated,
              bytesOf(lookMessage(dialogId, look.themeId, look.wallpaper, look.bothSides)));
    return {0, {}};
}

namespace {
constexpr int kRingtoneListPreference = 15;
constexpr int kThemePreference = 24;

// The file ids a preference may name, written out.
QByteArray preferenceNames(const im::SharedPreference& record)
{
    const QByteArray value = QByteArray::fromStdString(record.value());
    // A theme is stored as Base64 text of its message.
    return record.type() == kThemePreference ? QByteArray::fromBase64(value) : value;
}
} // namespace

QByteArray SimServer::namedBytes(bool ringtoneLists) const
{
    QByteArray named = m_wallpapers.liveBytes();
    for (const StoredPreference& stored : m_preferences) {
        if (ringtoneLists || stored.record.type() != kRingtoneListPreference)
            named += preferenceNames(stored.record);
    }
    for (const ChatLook& look : m_chatLooks) {
        if (look.wallpaper)
            named += bytesOf(*look.wallpaper);
    }
    for (const QByteArray& info : m_accountInfo)
        named += info;
    return named;
}

QByteArray SimServer::namedByWrite(const QByteArray& body) const
{
    im::misc::UpdateSharedPreferencesV2Req req;
    QByteArray named;
    if (!parse(req, body))
        return named;
    for (const im::SharedPreference& record : req.preferences()) {
        const auto it =
            m_preferences.constFind(qMakePair(QString::fromStdString(record.key()), record.type()));
        if (it != m_preferences.cend() && record.type() != kRingtoneListPreference)
            named += preferenceNames(it->record);
    }
    return named;
}

void SimServer::releaseUnnamed(const QByteArray& namedBefore)
{
    QStringList candidates;
    for (const QString& id : m_files->ownedBy(m_userId)) {
        if (namedBefore.contains(id.toUtf8()))
            candidates.append(id);
    }
    // Most changes named no file before: then no document need be read again.
    if (candidates.isEmpty())
        return;
    const QByteArray named = namedBytes();
    QStringList released;
    for (const QString& id : std::as_const(candidates)) {
        if (!named.contains(id.toUtf8()))
            released.append(id);
    }
    m_files->remove(m_userId, released);
}

QStringList SimServer::unreferencedFiles() const
{
    const QByteArray named = namedBytes();
    QStringList unreferenced;
    for (const QString& id : m_files->ownedBy(m_userId)) {
        if (!named.contains(id.toUtf8()))
            unreferenced.append(id);
    }
    return unreferenced;
}

QString SimServer::chatThemeId(const QString& dialogId) const
{
    return m_chatLooks.value(dialogId).themeId;
}

std::optional<im::WallPaper> SimServer::chatWallpaper(const QString& dialogId) const
{
    return m_chatLooks.value(dialogId).wallpaper;
}

// ---- account information ----

namespace {
constexpr int kAlternativePhotos = 9;
}

SimServer::Reply SimServer::updateAccountInfo(int deviceId, const QByteArray& body)
{
    im::user::UpdateAccountInfoReq req;
    if (!parse(req, body) || req.type() <= 0)
        return {kBadRequest, {}};
    const QByteArray info = QByteArray::fromStdString(req.info());
    if (req.type() == kAlternativePhotos) {
        im::AlternativePhotos photos;
        if (!parse(photos, info))
            return {kBadRequest, {}};
        // Every photo names images the user uploaded.
        for (const auto& photo : photos.photos()) {
            for (const im::Photo* image : {&photo.photo_set().lo_res(), &photo.photo_set().hi_res()}) {
                if (image->file_id().empty() ||
                    !m_files->readable(m_userId, QString::fromStdString(image->file_id())))
                    return {kUnprocessable, {}};
            }
        }
    }
    m_accountInfo.insert(req.type(), info);
    im::notif::AccountInfoUpdatedNotif notif;
    notif.set_type(req.type());
    notif.set_info(req.info());
    pushToOthers(deviceId, PushAccountInfoUpdated, bytesOf(notif));
    im::user::AccountInfoResp resp;
    resp.set_type(req.type());
    resp.set_info(req.info());
    return {0, bytesOf(resp)};
}

SimServer::Reply SimServer::getAccountInfo(const QByteArray& body)
{
    im::user::GetAccountInfoReq req;
    if (!parse(req, body))
        return {kBadRequest, {}};
    im::user::AccountInfoResp resp;
    resp.set_type(req.type());
    resp.set_info(m_accountInfo.value(req.type()).toStdString());
    return {0, bytesOf(resp)};
}

int SimServer::alternativePhotoCount() const
{
    im::AlternativePhotos photos;
    const QByteArray info = m_accountInfo.value(kAlternativePhotos);
    return parse(photos, info) ? photos.photos_size() : 0;
}

// ---- files ----

namespace {

int codeOf(SimFileStore::Result result)
{
    switch (result) {
    case SimFileStore::Result::Ok: return 0;
    case SimFileStore::Result::NotFound: return SimServer::kNotFound;
    case SimFileStore::Result::Conflict: return SimServer::kConflict;
    case SimFileStore::Result::TooLarge: return SimServer::kTooLarge;
    case SimFileStore::Result::Mismatch: return SimServer::kUnprocessable;
    }
    return SimServer::kBadRequest;
}

QStringList idsOf(const google::protobuf::RepeatedPtrField<std::string>& ids)
{
    QStringList out;
    for (const auto& id : ids)
        out.append(QString::fromStdString(id));
    return out;
}

} // namespace

SimServer::Reply SimServer::uploadChunk(const QByteArray& body)
{
    im::file::UploadChunkReq req;
    if (!parse(req, body))
        return {kBadRequest, {}};
    qint64 received = 0;
    const auto result =
        m_files->appendChunk(m_userId, QString::fromStdString(req.file_id()), req.offset(), req.total_size(),
                             QByteArray::fromStdString(req.data()), received);
    if (result != SimFileStore::Result::Ok)
        return {codeOf(result), {}};
    im::file::UploadChunkResp resp;
    resp.set_received(received);
    return {0, bytesOf(resp)};
}

SimServer::Reply SimServer::completeUpload(const QByteArray& body)
{
    im::file::CompleteUploadReq req;
    if (!parse(req, body))
        return {kBadRequest, {}};
    const QString id = QString::fromStdString(req.file_id());
    const auto result = m_files->completeUpload(m_userId, id, req.size(), QString::fromStdString(req.md5()));
    if (result != SimFileStore::Result::Ok)
        return {codeOf(result), {}};
    im::file::CompleteUploadResp resp;
    resp.mutable_file()->set_file_id(req.file_id());
    resp.mutable_file()->set_size(req.size());
    resp.mutable_file()->set_md5(req.md5());
    return {0, bytesOf(resp)};
}

SimServer::Reply SimServer::downloadChunk(const QByteArray& body)
{
    im::file::DownloadChunkReq req;
    if (!parse(req, body) || req.offset() < 0 || req.length() <= 0)
        return {kBadRequest, {}};
    const SimFileStore::File* file = m_files->readable(m_userId, QString::fromStdString(req.file_id()));
    if (!file)
        return {kNotFound, {}};
    if (req.offset() > file->bytes.size())
        return {kBadRequest, {}};
    im::file::DownloadChunkResp resp;
    resp.mutable_file()->set_file_id(req.file_id());
    resp.mutable_file()->set_size(file->bytes.size());
    resp.mutable_file()->set_md5(file->md5.toStdString());
    const int length = std::min(req.length(), kMaxDownloadChunk);
    const QByteArray piece = file->bytes.mid(req.offset(), length);
    resp.set_data(piece.constData(), size_t(piece.size()));
    return {0, bytesOf(resp)};
}

SimServer::Reply SimServer::duplicateFiles(const QByteArray& body)
{
    im::file::DuplicateFilesReq req;
    if (!parse(req, body) || req.file_ids().empty())
        return {kBadRequest, {}};
    const auto copies = m_files->duplicate(m_userId, idsOf(req.file_ids()));
    if (!copies)
        return {kNotFound, {}};
    im::file::DuplicateFilesResp resp;
    for (auto it = copies->cbegin(); it != copies->cend(); ++it)
        (*resp.mutable_old_to_new())[it.key().toStdString()] = it.value().toStdString();
    return {0, bytesOf(resp)};
}

SimServer::Reply SimServer::deleteFiles(const QByteArray& body)
{
    im::file::DeleteFilesReq req;
    if (!parse(req, body))
        return {kBadRequest, {}};
    im::file::DeleteFilesResp resp;
    for (const QString& id : m_files->remove(m_userId, idsOf(req.file_ids())))
        resp.add_deleted(id.toStdString());
    return {0, bytesOf(resp)};
}

void SimServer::pushToOthers(int fromDevice, const QList<im::SharedPreference>& changed)
{
    if (changed.isEmpty())
        return;
    im::notif::SharedPreferenceUpdatedNotif notif;
    for (const auto& record : changed)
        *notif.add_preferences() = record;
    pushToOthers(fromDevice, PushSharedPreferenceUpdated, bytesOf(notif));
}

void SimServer::pushToOthers(int fromDevice, const QList<im::WallPaper>& changed)
{
    if (changed.isEmpty())
        return;
    im::notif::WallpaperUpdatedNotif notif;
    for (const auto& wallpaper : changed)
        *notif.add_wallpapers() = wallpaper;
    pushToOthers(fromDevice, PushWallpaperUpdated, bytesOf(notif));
}

void SimServer::pushToOthers(int fromDevice, int type, const QByteArray& body)
{
    for (const Device& device : std::as_const(m_devices)) {
        const bool echo = device.id == fromDevice && device.id == m_echoTo;
        if ((device.id == fromDevice && !echo) || !device.online || !device.transport ||
            m_unlinked.contains(device.id))
            continue;
        QPointer<SimTransport> transport = device.transport;
        // The echo of a sender's own change comes at once, ahead of its answer.
        sendTo(device.id, echo ? 0 : m_latencyMs, [transport, type, body] {
            if (transport)
                transport->deliverPush(type, body);
        });
    }
}

void SimServer::pushToAll(int type, const QByteArray& body)
{
    for (const Device& device : std::as_const(m_devices)) {
        if (!device.online || !device.transport || m_unlinked.contains(device.id))
            continue;
        QPointer<SimTransport> transport = device.transport;
        sendTo(device.id, m_latencyMs, [transport, type, body] {
            if (transport)
                transport->deliverPush(type, body);
        });
    }
}

SimServer::Reply SimServer::wallpaperReply(int fromDevice, const SimWallpapers::Result& result)
{
    pushToOthers(fromDevice, result.changed);
    return {result.code, result.body};
}

// ---- transport ----

SimTransport::SimTransport(SimServer* server, int deviceId) : m_server(server), m_deviceId(deviceId) {}

SimTransport::~SimTransport() = default;

qint64 SimTransport::send(int command, const QByteArray& body, AccountBase::ResponseCallback callback,
                          bool flag, const QVariantMap& context)
{
    Q_UNUSED(flag)
    Q_UNUSED(context)
    if (!m_server)
        return 0;
    return m_server->receive(this, command, body, std::move(callback));
}

void SimServer::saveState(im::server::UserState* state, qint64 preferencesAfter) const
{
    for (const Device& device : m_devices) {
        im::server::UserState::Device* saved = state->add_devices();
        saved->set_id(device.id);
        saved->set_name(device.name.toStdString());
        saved->set_platform(device.platform.toStdString());
        saved->set_last_active(device.lastActive);
    }
    for (auto it = m_unlinked.cbegin(); it != m_unlinked.cend(); ++it)
        (*state->mutable_unlinked())[it.key()] = it.value().toStdString();
    state->set_delete_timer(m_deleteTimer);
    *state->mutable_privacy() = m_privacy;
    for (auto it = m_userOverrides.cbegin(); it != m_userOverrides.cend(); ++it)
        (*state->mutable_user_overrides())[it.key()] = it.value();
    state->set_email(m_email.toStdString());
    state->set_verification_enabled(m_verificationEnabled);
    state->set_reset_at(m_resetAt);
    state->set_failed_passwords(m_failedPasswords);
    state->set_locked_until(m_lockedUntil);
    for (qint64 sent : m_emailsSent)
        state->add_emails_sent(sent);
    state->set_pending_email(m_pendingEmail.toStdString());
    state->set_code_sent_at(m_codeSentAt);
    for (auto it = m_features.cbegin(); it != m_features.cend(); ++it)
        (*state->mutable_features())[it.key()] = it.value();
    for (auto it = m_chatLooks.cbegin(); it != m_chatLooks.cend(); ++it) {
        im::server::UserState::ChatLook* saved = state->add_chat_looks();
        saved->set_dialog_id(it.key().toStdString());
        saved->set_theme_id(it->themeId.toStdString());
        if (it->wallpaper)
            *saved->mutable_wallpaper() = *it->wallpaper;
        saved->set_both_sides(it->bothSides);
    }
    for (auto it = m_accountInfo.cbegin(); it != m_accountInfo.cend(); ++it)
        (*state->mutable_account_info())[it.key()] = it.value().toStdString();
    for (const StoredPreference& stored : m_preferences) {
        if (stored.sequence <= preferencesAfter)
            continue;
        im::server::UserState::Preference* saved = state->add_preferences();
        *saved->mutable_record() = stored.record;
        saved->set_sequence(stored.sequence);
    }
    state->set_preference_sequence(m_sequence);
    m_wallpapers.saveState(state);
}

void SimServer::restoreState(const im::server::UserState& state)
{
    for (const im::server::UserState::Device& saved : state.devices()) {
        Device& device = m_devices[saved.id()];
        device.id = saved.id();
        device.name = QString::fromStdString(saved.name());
        device.platform = QString::fromStdString(saved.platform());
        device.lastActive = saved.last_active();
    }
    m_unlinked.clear();
    for (const auto& [id, by] : state.unlinked())
        m_unlinked.insert(id, QString::fromStdString(by));
    m_deleteTimer = state.delete_timer();
    m_privacy = state.privacy();
    m_userOverrides.clear();
    for (const auto& [user, permissions] : state.user_overrides())
        m_userOverrides.insert(user, permissions);
    m_email = QString::fromStdString(state.email());
    m_verificationEnabled = state.verification_enabled();
    m_resetAt = state.reset_at();
    m_failedPasswords = state.failed_passwords();
    m_lockedUntil = state.locked_until();
    m_emailsSent = QList<qint64>(state.emails_sent().begin(), state.emails_sent().end());
    m_pendingEmail = QString::fromStdString(state.pending_email());
    m_codeSentAt = state.code_sent_at();
    m_features.clear();
    for (const auto& [feature, value] : state.features())
        m_features.insert(feature, value);
    m_chatLooks.clear();
    for (const im::server::UserState::ChatLook& saved : state.chat_looks()) {
        ChatLook& look = m_chatLooks[QString::fromStdString(saved.dialog_id())];
        look.themeId = QString::fromStdString(saved.theme_id());
        if (saved.has_wallpaper())
            look.wallpaper = saved.wallpaper();
        look.bothSides = saved.both_sides();
    }
    m_accountInfo.clear();
    for (const auto& [type, info] : state.account_info())
        m_accountInfo.insert(type, QByteArray::fromStdString(info));
    m_preferences.clear();
    for (const im::server::UserState::Preference& saved : state.preferences()) {
        const auto key = qMakePair(QString::fromStdString(saved.record().key()), int(saved.record().type()));
        m_preferences.insert(key, {saved.record(), saved.sequence()});
    }
    m_sequence = state.preference_sequence();
    m_wallpapers.restoreState(state);
}
