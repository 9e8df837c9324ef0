#pragma once

#include "host/files.h"
#include "im/common.pb.h"
#include "settingmodel_global.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QSet>
#include <QSharedPointer>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

class AccountBase;
class AlternativeProfilePhoto;

// One alternative profile photo: its low- and high-resolution images and the users and groups
// it is shown to.
class SETTINGMODEL_EXPORT ProfilePhotoItem : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("ProfilePhotoItem is made by the module")
    Q_PROPERTY(QVariantList userList READ userList NOTIFY userListChanged)
    Q_PROPERTY(QVariantList groupList READ groupList NOTIFY groupListChanged)
    Q_PROPERTY(PhotoData* photoInfo READ photoInfo NOTIFY photoInfoChanged)
    Q_PROPERTY(PhotoData* srcPhotoInfo READ srcPhotoInfo NOTIFY srcPhotoInfoChanged)
    Q_PROPERTY(bool uploading READ uploading NOTIFY uploadingChanged)
public:
    ProfilePhotoItem(AccountBase* account, AlternativeProfilePhoto* owner);
    ~ProfilePhotoItem() override;

    QVariantList userList() const { return m_userList; }
    QVariantList groupList() const { return m_groupList; }
    void setLists(const QVariantList& userIds, const QVariantList& groupIds);
    PhotoData* photoInfo() const { return m_photo.data(); }
    PhotoData* srcPhotoInfo() const { return m_srcPhoto.data(); }
    QSharedPointer<PhotoData> photoPtr() const { return m_photo; }
    QSharedPointer<PhotoData> srcPhotoPtr() const { return m_srcPhoto; }
    bool uploading() const { return m_uploading; }
    void setUploading(bool uploading);
    // The images of a photo map: "loImagePath" and "hiImagePath".
    void setPhotos(const QVariantMap& photo);
    // The photo as the server holds it.
    void fill(const im::AlternativePhotos_AlternativePhoto& photo);
    void serialize(im::AlternativePhotos_AlternativePhoto* out) const;
    QString key() const { return m_srcPhoto ? m_srcPhoto->fileId() : QString(); }

    Q_INVOKABLE void setIds(const QVariantList& userIds, const QVariantList& groupIds);
    Q_INVOKABLE void changePhoto(const QVariantMap& photo);
    Q_INVOKABLE void deletePhoto();

    // Uploads the two images; done(ok) runs once on this thread.
    void upload(std::function<void(bool ok)> done);

signals:
    void startDestroy();
    void userListChanged();
    void groupListChanged();
    void photoInfoChanged();
    void srcPhotoInfoChanged();
    void uploadingChanged();

private:
    AccountBase* m_account;
    AlternativeProfilePhoto* m_owner;
    QVariantList m_userList;
    QVariantList m_groupList;
    QSharedPointer<PhotoData> m_photo;
    QSharedPointer<PhotoData> m_srcPhoto;
    ProfilePhotoItem* m_replacement = nullptr;
    bool m_uploading = false;
};

// The user's alternative profile photos, each shown only to chosen users and groups, and whether
// people who are not contacts see one. The whole list goes to the server at once (the account
// information of type 9); rows follow the server's answer, except a photo being added, which is
// listed while its images upload.
class SETTINGMODEL_EXPORT AlternativeProfilePhoto : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("AlternativeProfilePhoto is made by the module")
    Q_PROPERTY(
        bool showToNonContact READ showToNonContact WRITE setShowToNonContact NOTIFY showToNonContactChanged)
    Q_PROPERTY(bool modifying READ modifying WRITE setModifying NOTIFY modifyingChanged)
public:
    enum DataRole { PROFILE_PHOTO_ROLE = Qt::UserRole + 1, ROLE_MAX };
    Q_ENUM(DataRole)
    enum PhotoError { UploadPhotoFail = 0, ModifyFail = 1, NetFail = 2 };
    Q_ENUM(PhotoError)
    // The account information type that holds the photos.
    static constexpr int kAccountInfoType = 9;

    explicit AlternativeProfilePhoto(AccountBase* account);
    ~AlternativeProfilePhoto() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    QList<ProfilePhotoItem*> items() const { return m_items; }

    bool showToNonContact() const { return m_showToNonContact; }
    void setShowToNonContact(bool show);
    bool modifying() const { return m_modifying; }
    void setModifying(bool modifying);

    Q_INVOKABLE void addPrfilePhoto(const QVariantMap& photo);
    Q_INVOKABLE void changeShowToNonContact(bool state);

    void deletePhotoItem(ProfilePhotoItem* item);
    void replacePhoto(ProfilePhotoItem* oldItem, ProfilePhotoItem* newItem);
    void updloadAlternativePhotoReq();
    void updloadAlternativePhoto(bool showToNonContact, const QList<ProfilePhotoItem*>& items);
    // The server's state; the rows follow it, except photos this device sent in an update the
    // server has not answered yet.
    void updateAlternativePhoto(const im::AlternativePhotos& photos);
    // The answer to this device's oldest update still on its way, and its failure.
    void answerUpdate(const im::AlternativePhotos& photos);
    void updateProfilePhotoFailed();
    bool networkCheck();

signals:
    void showToNonContactChanged();
    void modifyingChanged();
    void moddifyFail(AlternativeProfilePhoto::PhotoError error);

private:
    void failNetwork();
    // An added photo whose upload failed leaves the list.
    void removeItem(ProfilePhotoItem* item);
    // The file records and cached copies of a photo that left the list; onServer also deletes
    // the server's copies (uploads of this device no list from the server ever named).
    void dropFiles(const ProfilePhotoItem* item, bool onServer) const;

    QList<ProfilePhotoItem*> m_items;
    QHash<QString, ProfilePhotoItem*> m_byKey;
    // Added photos whose images are still uploading: listed, but not yet sent to the server.
    QSet<ProfilePhotoItem*> m_uploadingItems;
    // The photo keys of each update sent and not answered yet, oldest first: an answer to an
    // older one does not take away a photo a newer one carries.
    QList<QSet<QString>> m_sent;
    // Keys of photos this device uploaded that no list from the server has named yet.
    QSet<QString> m_unconfirmed;
    bool m_showToNonContact = false;
    AccountBase* m_account;
    bool m_modifying = false;
};
