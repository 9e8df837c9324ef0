#include "wallpapers/wallpaperservicecmd.h"

#include "host/accountbase.h"
#include "im/wallpaper.pb.h"
#include "protobufutil.h"
#include "wallpapers/wallpaperhandler.h"

using settingmodel::parseMessage;

namespace {

// The handler of the account, when it still has one, and the answer parsed as Message.
template <class Message>
void deliver(AccountBase* account, int code, const QByteArray& body,
             void (WallpaperHandler::*handle)(const Message&))
{
    WallpaperHandler* handler = account->wallpaperHandler();
    Message message;
    if (handler && code == 0 && parseMessage(message, body))
        (handler->*handle)(message);
}

} // namespace

void WallpaperServiceCmd::send(quint16 command, const QByteArray& body,
                               std::function<void(int, const QByteArray&)> callback, bool flag)
{
    m_account->sendRequest(command, body, std::move(callback), flag, {});
}

void WallpaperServiceCmd::listReq(qint64 offset)
{
    im::wallpaper::ListWallPapersReq req;
    req.set_offset(offset);
    AccountBase* account = m_account;
    send(
        List, SM_SERIALIZE(req),
        [account, offset](int code, const QByteArray& body) {
            // The page is judged against the offset it was asked from.
            WallpaperHandler* handler = account->wallpaperHandler();
            if (handler && code == 0)
                handler->listAnswer(body, offset);
        },
        false);
}

void WallpaperServiceCmd::saveReq(const im::WallPaper& wallpaper, const QString& localId)
{
    im::wallpaper::SaveWallPaperReq req;
    *req.mutable_wallpaper() = wallpaper;
    AccountBase* account = m_account;
    send(
        Save, SM_SERIALIZE(req),
        [account, localId](int code, const QByteArray& body) {
            if (WallpaperHandler* handler = account->wallpaperHandler())
                handler->saveResp(code, body, localId);
        },
        false);
}

void WallpaperServiceCmd::deleteReq(const QString& id)
{
    im::wallpaper::DeleteWallPaperReq req;
    req.set_wallpaper_id(id.toStdString());
    sendDelete(req);
}

void WallpaperServiceCmd::deleteReq(const QStringList& ids)
{
    im::wallpaper::DeleteWallPaperReq req;
    for (const QString& id : ids)
        req.add_wallpaper_ids(id.toStdString());
    sendDelete(req);
}

void WallpaperServiceCmd::sendDelete(const im::wallpaper::DeleteWallPaperReq& req)
{
    AccountBase* account = m_account;
    send(
        Delete, SM_SERIALIZE(req),
        [account, req](int code, const QByteArray& body) {
            if (WallpaperHandler* handler = account->wallpaperHandler()) {
                QStringList ids;
                if (!req.wallpaper_id().empty())
                    ids.append(QString::fromStdString(req.wallpaper_id()));
                for (const std::string& id : req.wallpaper_ids())
                    ids.append(QString::fromStdString(id));
                handler->deleteAnswered(ids, code);
            }
            deliver(account, code, body, &WallpaperHandler::deleteResp);
        },
        true);
}

void WallpaperServiceCmd::getReq(const QString& id, std::function<void(int, const QByteArray&)> callback)
{
    im::wallpaper::GetWallPaperReq req;
    req.set_id(id.toStdString());
    send(Get, SM_SERIALIZE(req), std::move(callback), false);
}

void WallpaperServiceCmd::resetReq()
{
    AccountBase* account = m_account;
    send(
        Reset, {},
        [account](int code, const QByteArray& body) {
            deliver(account, code, body, &WallpaperHandler::resetResp);
        },
        false);
}
