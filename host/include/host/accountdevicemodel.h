#pragma once

#include "host/hostglobal.h"

#include <QAbstractListModel>
#include <QVariantList>

namespace im::user {
class ListDevicesResp;
}

// The user's devices as a list model for the settings screen.
class HOST_EXPORT AccountDeviceModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;
    ~AccountDeviceModel() override;

    virtual void setDeviceList(const im::user::ListDevicesResp& resp) = 0;
    virtual void removeDevices(const QVariantList& deviceIds) = 0;
    virtual void setDeviceDeleteTimer(int timerType) = 0;
};
