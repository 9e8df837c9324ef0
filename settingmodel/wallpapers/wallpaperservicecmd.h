#pragma once

#include "settingmodel_global.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

class AccountBase;
namespace im {
class WallPaper;
}
namespace im::wallpaper {
class DeleteWallPaperReq;
}

// The wallpaper commands. Answers go to the account's wallpaper handler; a failed or
// unparsable answer is dropped, except a save's, whose outcome the handler decides.
class SETTINGMODEL_EXPORT WallpaperServiceCmd {
public:
    enum Command : quint16 { List = 241, Save = 242, Delete = 243, Get = 244, Reset = 245 };

    explicit WallpaperServiceCmd(AccountBase* account) : m_account(account) {}

    void listReq(qint64 offset);
    void saveReq(const im::WallPaper& wallpaper, const QString& localId);
    void deleteReq(const QString& id);
    void deleteReq(const QStringList& ids);
    void getReq(const QString& id, std::function<void(int code, const QByteArray& body)> callback);
    void resetReq();

private:
    void sendDelete(const im::wallpaper::DeleteWallPaperReq& req);
    void send(quint16 command, const QByteArray& body, std::function<void(int, const QByteArray&)> callback,
              bool flag);

    AccountBase* m_account;
};
