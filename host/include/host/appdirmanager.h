#pragma once

#include "host/hostglobal.h"

#include <QString>

class HOST_EXPORT AppDirManager {
public:
    // The scratch directory, created on demand, with a trailing separator.
    static QString tempDir();
};
