#pragma once

#include "host/hostglobal.h"

#include <atomic>

// Lifecycle every account model goes through. The host calls loadLocalData first, then
// getNewData; on sign-out prepareToClearData (wait for background work) and clearData.
class HOST_EXPORT ModelBase {
public:
    virtual ~ModelBase();
    virtual void initConnection();
    virtual void initData();
    virtual void movingData();
    virtual bool loadLocalData(bool alreadyLoaded) = 0;
    virtual bool prepareToClearData(bool force);
    virtual bool clearData(bool force);
    virtual void getNewData();

    bool isClearing() const { return m_clearing.load(std::memory_order_acquire); }

protected:
    void setClearing(bool clearing) { m_clearing.store(clearing, std::memory_order_release); }

private:
    // Background tasks read it from worker threads.
    std::atomic<bool> m_clearing{false};
};
