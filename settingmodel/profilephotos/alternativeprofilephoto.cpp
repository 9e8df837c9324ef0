#include "profilephotos/alternativeprofilephoto.h"

#include "host/accountbase.h"
#include "host/contacts.h"
#include "host/services.h"
#include "logging.h"

#include <QJSEngine>
#include <QPointer>

namespace {

QSharedPointer<PhotoData> photoOf(const QString& path)
{
    return path.isEmpty() ? nullptr : QSharedPointer<PhotoData>::create(path);
}

QSharedPointer<PhotoData> photoOf(AccountBase* account, const im::Photo& photo)
{
    if (photo.file_id().empty())
        return {};
    auto made = QSharedPointer<PhotoData>::create(QString());
    made->setFileId(QString::fromStdString(photo.file_id()));
    made->setAesKey(QByteArray::fromStdString(photo.aes_key()));
    made->setFileMd5(QString::fromStdString(photo.md5()));
    made->setSize(photo.size());
    // The account's record of the image, fetched when it is not here.
    if (FileManager* files = account ? account->fileManager() : nullptr) {
        if (const FileDataPtr record = files->photoDataMgr()->getFile(made.data(), true)) {
            made->setCacheFilePath(record->cacheFilePath());
            // The download lands in the record, held while the photo lives; the photo shows it as
            // soon as it is complete.
            QObject::connect(
                record.data(), &BaseFile::cacheFilePathChanged, made.data(),
                [photo = made.data(), record] { photo->setCacheFilePath(record->cacheFilePath()); });
        }
    }
    return made;
}

void writePhoto(const QSharedPointer<PhotoData>& file, im::Photo* out)
{
    if (!file)
        return;
    out->set_file_id(file->fileId().toStdString());
    out->set_md5(file->fileMd5().toStdString());
    out->set_aes_key(file->aesKey().toStdString());
    out->set_size(int(file->size()));
}

template <class Ids> QVariantList listOf(const Ids& ids)
{
    QVariantList out;
    for (qint64 id : ids)
        out.append(id);
    return out;
}

} // namespace

// ---- ProfilePhotoItem ----

ProfilePhotoItem::ProfilePhotoItem(AccountBase* account, AlternativeProfilePhoto* owner)
    : m_account(account),
      m_owner(owner)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

ProfilePhotoItem::~ProfilePhotoItem()
{
    emit startDestroy();
    delete m_replacement;
}

void ProfilePhotoItem::setLists(const QVariantList& userIds, const QVariantList& groupIds)
{
    if (userIds != m_userList) {
        m_userList = userIds;
        emit userListChanged();
    }
    if (groupIds != m_groupList) {
        m_groupList = groupIds;
        emit groupListChanged();
    }
}

void ProfilePhotoItem::setUploading(bool uploading)
{
    if (uploading == m_uploading)
        return;
    m_uploading = uploading;
    emit uploadingChanged();
}

void ProfilePhotoItem::setPhotos(const QVariantMap& photo)
{
    m_photo = photoOf(photo.value(QStringLiteral("loImagePath")).toString());
    m_srcPhoto = photoOf(photo.value(QStringLiteral("hiImagePath")).toString());
    emit photoInfoChanged();
    emit srcPhotoInfoChanged();
}

void ProfilePhotoItem::fill(const im::AlternativePhotos_AlternativePhoto& photo)
{
    setLists(listOf(photo.user_ids()), listOf(photo.group_ids()));
    const QString lo = QString::fromStdString(photo.photo_set().lo_res().file_id());
    if (!m_photo || m_photo->fileId() != lo) {
        m_photo = photoOf(m_account, photo.photo_set().lo_res());
        emit photoInfoChanged();
    }
    const QString hi = QString::fromStdString(photo.photo_set().hi_res().file_id());
    if (!m_srcPhoto || m_srcPhoto->fileId() != hi) {
        m_srcPhoto = photoOf(m_account, photo.photo_set().hi_res());
        emit srcPhotoInfoChanged();
    }
}

void ProfilePhotoItem::serialize(im::AlternativePhotos_AlternativePhoto* out) const
{
    writePhoto(m_photo, out->mutable_photo_set()->mutable_lo_res());
    writePhoto(m_srcPhoto, out->mutable_photo_set()->mutable_hi_res());
    for (const QVariant& id : m_userList)
        out->add_user_ids(id.toLongLong());
    for (const QVariant& id : m_groupList)
        out->add_group_ids(id.toLongLong());
}

void ProfilePhotoItem::setIds(const QVariantList& userIds, const QVariantList& groupIds)
{
    if ((userIds == m_userList && groupIds == m_groupList) || !m_owner)
        return;
    ProfilePhotoItem copy(m_account, nullptr);
    copy.m_photo = m_photo;
    copy.m_srcPhoto = m_srcPhoto;
    copy.m_userList = userIds;
    copy.m_groupList = groupIds;
    m_owner->replacePhoto(this, &copy);
}

void ProfilePhotoItem::changePhoto(const QVariantMap& photo)
{
    if (!m_owner)
        return;
    delete m_replacement;
    m_replacement = new ProfilePhotoItem(m_account, nullptr);
    m_replacement->setPhotos(photo);
    m_replacement->setLists(m_userList, m_groupList);
    setUploading(true);
    m_owner->setModifying(true);
    QPointer<ProfilePhotoItem> self(this);
    m_replacement->upload([self](bool ok) {
        if (!self || !self->m_replacement)
            return;
        AlternativeProfilePhoto* owner = self->m_owner;
        if (ok) {
            owner->replacePhoto(self, self->m_replacement);
        } else {
            emit owner->moddifyFail(AlternativeProfilePhoto::UploadPhotoFail);
            owner->setModifying(false);
        }
        delete self->m_replacement;
        self->m_replacement = nullptr;
        self->setUploading(false);
    });
}

void ProfilePhotoItem::deletePhoto()
{
    if (m_owner)
        m_owner->deletePhotoItem(this);
}

void ProfilePhotoItem::upload(std::function<void(bool ok)> done)
{
    FileManager* files = m_account ? m_account->fileManager() : nullptr;
    if (!m_photo || !m_srcPhoto || !files) {
        // A photo map without both images: nothing to upload, and the caller still hears of it.
        qCWarning(lcSettingModel) << "a profile photo needs both images; nothing uploaded";
        QPointer<ProfilePhotoItem> self(this);
        QMetaObject::invokeMethod(
            this,
            [self, done = std::move(done)] {
                if (self)
                    done(false);
            },
            Qt::QueuedConnection);
        return;
    }
    setUploading(true);
    const UploadMultiFileFilterPtr filter =
        files->makeFilter(qSharedPointerCast<FileData>(m_photo), qSharedPointerCast<FileData>(m_srcPhoto));
    if (!filter) {
        done(true);
        return;
    }
    filter->first = true;
    filter->ownerId = m_srcPhoto->fileId();
    QPointer<ProfilePhotoItem> self(this);
    filter->callback = [self, done = std::move(done)](int stage, int status) {
        if (!self)
            return;
        if (status != upload::Ok)
            done(false);
        else if (stage == upload::Finished)
            done(true);
    };
    files->uploadMultiFile(filter, upload::ReportProgress);
}

// ---- AlternativeProfilePhoto ----

AlternativeProfilePhoto::AlternativeProfilePhoto(AccountBase* account)
    : QAbstractListModel(account),
      m_account(account)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

AlternativeProfilePhoto::~AlternativeProfilePhoto()
{
    qDeleteAll(m_items);
}

int AlternativeProfilePhoto::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant AlternativeProfilePhoto::data(const QModelIndex& index, int role) const
{
    if (role != PROFILE_PHOTO_ROLE || !index.isValid() || index.row() >= m_items.size())
        return {};
    return QVariant::fromValue(m_items.at(index.row()));
}

QHash<int, QByteArray> AlternativeProfilePhoto::roleNames() const
{
    return {{PROFILE_PHOTO_ROLE, "profilePhoto"}};
}

void AlternativeProfilePhoto::setShowToNonContact(bool show)
{
    if (show == m_showToNonContact)
        return;
    m_showToNonContact = show;
    emit showToNonContactChanged();
}

void AlternativeProfilePhoto::setModifying(bool modifying)
{
    if (modifying == m_modifying)
        return;
    m_modifying = modifying;
    emit modifyingChanged();
}

void AlternativeProfilePhoto::addPrfilePhoto(const QVariantMap& photo)
{
    setModifying(true);
    auto* item = new ProfilePhotoItem(m_account, this);
    item->setPhotos(photo);
    m_uploadingItems.insert(item);
    const int row = int(m_items.size());
    beginInsertRows(QModelIndex(), row, row);
    m_items.append(item);
    endInsertRows();
    QPointer<ProfilePhotoItem> guard(item);
    item->upload([this, guard](bool ok) {
        if (!guard || !m_uploadingItems.remove(guard))
            return;
        if (!ok) {
            // A failed upload may have been stored before its answer was lost.
            dropFiles(guard, true);
            removeItem(guard);
            setModifying(!m_uploadingItems.isEmpty());
            emit moddifyFail(UploadPhotoFail);
            return;
        }
        guard->setUploading(false);
        m_unconfirmed.insert(guard->key());
        m_byKey.insert(guard->key(), guard);
        updloadAlternativePhotoReq();
    });
}

void AlternativeProfilePhoto::changeShowToNonContact(bool state)
{
    if (state == m_showToNonContact)
        return;
    setModifying(true);
    updloadAlternativePhoto(state, m_items);
}

void AlternativeProfilePhoto::deletePhotoItem(ProfilePhotoItem* item)
{
    if (!m_items.contains(item))
        return;
    setModifying(true);
    QList<ProfilePhotoItem*> rest = m_items;
    rest.removeAll(item);
    updloadAlternativePhoto(m_showToNonContact, rest);
}

void AlternativeProfilePhoto::replacePhoto(ProfilePhotoItem* oldItem, ProfilePhotoItem* newItem)
{
    const qsizetype row = m_items.indexOf(oldItem);
    if (row < 0)
        return;
    setModifying(true);
    QList<ProfilePhotoItem*> replaced = m_items;
    replaced[row] = newItem;
    updloadAlternativePhoto(m_showToNonContact, replaced);
}

void AlternativeProfilePhoto::updloadAlternativePhotoReq()
{
    updloadAlternativePhoto(m_showToNonContact, m_items);
}

void AlternativeProfilePhoto::failNetwork()
{
    emit moddifyFail(NetFail);
    setModifying(false);
}

bool AlternativeProfilePhoto::networkCheck()
{
    if (network::NetworkSubject::instance()->networkReachable())
        return true;
    failNetwork();
    return false;
}

void AlternativeProfilePhoto::updloadAlternativePhoto(bool showToNonContact,
                                                      const QList<ProfilePhotoItem*>& items)
{
    if (!networkCheck())
        return;
    im::AlternativePhotos photos;
    photos.set_show_to_non_contact(showToNonContact);
    // A photo whose images are still uploading goes with a later request, once they are there.
    for (ProfilePhotoItem* item : items) {
        if (item && !m_uploadingItems.contains(item))
            item->serialize(photos.add_photos());
    }
    UserManager* users = m_account->userManager();
    UserServiceCmd* cmd = users ? users->userServiceCmd() : nullptr;
    if (!cmd)
        return;
    QSet<QString> keys;
    for (const auto& photo : photos.photos())
        keys.insert(QString::fromStdString(photo.photo_set().hi_res().file_id()));
    m_sent.append(keys);
    cmd->updateAccountInfo(kAccountInfoType, QVariant::fromValue(photos), false);
}

void AlternativeProfilePhoto::answerUpdate(const im::AlternativePhotos& photos)
{
    if (!m_sent.isEmpty())
        m_sent.removeFirst();
    updateAlternativePhoto(photos);
}

void AlternativeProfilePhoto::updateAlternativePhoto(const im::AlternativePhotos& photos)
{
    QSet<QString> present;
    for (int i = 0; i < photos.photos_size(); ++i) {
        const im::AlternativePhotos_AlternativePhoto& photo = photos.photos(i);
        const QString key = QString::fromStdString(photo.photo_set().hi_res().file_id());
        if (key.isEmpty() || present.contains(key))
            continue;
        present.insert(key);
        m_unconfirmed.remove(key);
        const int target = int(std::min<qsizetype>(present.size() - 1, m_items.size()));
        ProfilePhotoItem* item = m_byKey.value(key);
        if (!item) {
            item = new ProfilePhotoItem(m_account, this);
            item->fill(photo);
            beginInsertRows(QModelIndex(), target, target);
            m_items.insert(target, item);
            m_byKey.insert(key, item);
            endInsertRows();
            continue;
        }
        item->fill(photo);
        const int row = int(m_items.indexOf(item));
        if (row != target && row >= 0) {
            beginMoveRows(QModelIndex(), row, row, QModelIndex(), target > row ? target + 1 : target);
            m_items.move(row, target);
            endMoveRows();
        }
    }
    // Rows the server no longer has go; a photo still uploading, or sent in an update not
    // answered yet, stays.
    const auto onItsWay = [this](const QString& key) {
        return std::any_of(m_sent.cbegin(), m_sent.cend(),
                           [&key](const QSet<QString>& keys) { return keys.contains(key); });
    };
    for (int row = int(m_items.size()) - 1; row >= 0; --row) {
        ProfilePhotoItem* item = m_items.at(row);
        if (m_uploadingItems.contains(item) || present.contains(item->key()) || onItsWay(item->key()))
            continue;
        beginRemoveRows(QModelIndex(), row, row);
        m_items.removeAt(row);
        m_byKey.remove(item->key());
        endRemoveRows();
        dropFiles(item, m_unconfirmed.remove(item->key()));
        item->deleteLater();
    }
    setShowToNonContact(photos.show_to_non_contact());
    setModifying(!m_sent.isEmpty() || !m_uploadingItems.isEmpty());
}

void AlternativeProfilePhoto::updateProfilePhotoFailed()
{
    if (!m_sent.isEmpty())
        m_sent.removeFirst();
    setModifying(!m_sent.isEmpty() || !m_uploadingItems.isEmpty());
    emit moddifyFail(ModifyFail);
}

void AlternativeProfilePhoto::dropFiles(const ProfilePhotoItem* item, bool onServer) const
{
    FileManager* files = m_account->fileManager();
    if (!files)
        return;
    QStringList ids;
    for (const PhotoData* photo : {item->photoInfo(), item->srcPhotoInfo()}) {
        if (photo && !photo->fileId().isEmpty())
            ids.append(photo->fileId());
    }
    if (ids.isEmpty())
        return;
    files->fileDataMgr()->deleteFilesAll(ids, true);
    if (onServer)
        files->fileServiceCmd()->deleteFiles(ids);
}

void AlternativeProfilePhoto::removeItem(ProfilePhotoItem* item)
{
    const int row = int(m_items.indexOf(item));
    if (row < 0)
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_items.removeAt(row);
    endRemoveRows();
    item->deleteLater();
}
