#include "host/dialogbase.h"

#include "host/contacts.h"

#include <QJSEngine>

DialogBase::DialogBase(const QString& dialogId, bool isGroup, QSharedPointer<GroupModel> group,
                       QObject* parent)
    : QObject(parent),
      m_dialogId(dialogId),
      m_isGroup(isGroup),
      m_group(std::move(group))
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

DialogBase::~DialogBase()
{
    emit startDestroy();
}
