#pragma once

#include <QtCore/qglobal.h>

#if defined(SETTINGMODEL_LIBRARY)
#define SETTINGMODEL_EXPORT Q_DECL_EXPORT
#else
#define SETTINGMODEL_EXPORT Q_DECL_IMPORT
#endif
