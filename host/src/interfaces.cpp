// Out-of-line anchors of the host interfaces, and their defaults.
#include "host/accountbase.h"
#include "host/accountdevicemodel.h"
#include "host/accountsettingmodel.h"
#include "host/contacts.h"
#include "host/datainfomodel.h"
#include "host/files.h"
#include "host/modelbase.h"
#include "host/services.h"
#include "host/sharedpreferencebase.h"
#include "host/stickers.h"
#include "host/storage.h"

ModelBase::~ModelBase() = default;
void ModelBase::initConnection() {}
void ModelBase::initData() {}
void ModelBase::movingData() {}
bool ModelBase::prepareToClearData(bool)
{
    setClearing(true);
    return true;
}
bool ModelBase::clearData(bool)
{
    return true;
}
void ModelBase::getNewData() {}

AccountBase::~AccountBase() = default;
AccountDeviceModel::~AccountDeviceModel() = default;
AccountSettingModel::~AccountSettingModel() = default;
DataInfoModel::~DataInfoModel() = default;
SharedPreferenceBase::~SharedPreferenceBase() = default;

namespace storage {
SharedPreferenceStorage::~SharedPreferenceStorage() = default;
WallpaperStorage::~WallpaperStorage() = default;
CacheFileStorage::~CacheFileStorage() = default;
UserStorageProvider::~UserStorageProvider() = default;
} // namespace storage

FileDataMgr::~FileDataMgr() = default;
DownloadFileMgr::~DownloadFileMgr() = default;
UploadFileMgr::~UploadFileMgr() = default;
FileServiceCmd::~FileServiceCmd() = default;
PhotoDataMgr::~PhotoDataMgr() = default;
FileManager::~FileManager() = default;
ReminderHandler::~ReminderHandler() = default;
StickerBoxSetMgr::~StickerBoxSetMgr() = default;
DownloadStickerMgr::~DownloadStickerMgr() = default;
UserServiceCmd::~UserServiceCmd() = default;
