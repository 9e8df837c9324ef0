#pragma once

#include "host/accountbase.h"

#include <QVariantMap>

// How an account reaches the server. A transport may answer from any thread and at any time;
// the account queues every answer onto its own thread.
class HOST_EXPORT Transport {
public:
    // Why a transport that can lose its connection has none: the server does not answer, its
    // certificate is not trusted, or it refused the user's name and password (no more tries).
    enum class Problem { None, Unreachable, Untrusted, Refused };

    using PushHandler = std::function<void(int type, const QByteArray& body)>;

    virtual ~Transport();
    virtual qint64 send(int command, const QByteArray& body, AccountBase::ResponseCallback callback,
                        bool flag, const QVariantMap& context) = 0;
    // Whether requests can reach the server now; a transport that can lose its connection says
    // when that changes through the connection handler.
    virtual bool isConnected() const { return true; }

    // The account installs this to receive the server's push notifications.
    void setPushHandler(PushHandler handler) { m_pushHandler = std::move(handler); }
    // And this to learn the server's clock from the time stamp on each answer.
    using ServerTimeHandler = std::function<void(qint64 serverTimeMs)>;
    void setServerTimeHandler(ServerTimeHandler handler) { m_serverTimeHandler = std::move(handler); }
    // And this to follow the connection, for a transport that can lose it: false, with the reason,
    // while the server cannot be reached; true once it can again (the account then asks for news).
    using ConnectionHandler = std::function<void(bool connected, Problem problem)>;
    void setConnectionHandler(ConnectionHandler handler) { m_connectionHandler = std::move(handler); }

protected:
    void deliverPush(int type, const QByteArray& body) const
    {
        if (m_pushHandler)
            m_pushHandler(type, body);
    }

    void deliverServerTime(qint64 serverTimeMs) const
    {
        if (m_serverTimeHandler)
            m_serverTimeHandler(serverTimeMs);
    }

    void deliverConnection(bool connected, Problem problem) const
    {
        if (m_connectionHandler)
            m_connectionHandler(connected, problem);
    }

private:
    PushHandler m_pushHandler;
    ServerTimeHandler m_serverTimeHandler;
    ConnectionHandler m_connectionHandler;
};

// Push notification types.
enum PushType {
    PushSharedPreferenceUpdated = 1,
    PushWallpaperUpdated = 2,
    PushAccountInfoUpdated = 3,
    // The session of this device ended (im/session.proto); also the body of a 401 answer.
    PushSessionEnded = 4,
    // A chat's theme or wallpaper changed (im::chat::ChatLook), sent to every device of the user.
    PushChatLookUpdated = 5,
};

// The answer to every request of a device whose session ended.
inline constexpr int kSessionEnded = 401;

// The host's own file service commands (messages in im/file.proto); the module never sends
// them itself, it goes through the file manager.
enum FileCommand {
    FileUploadChunk = 1001,
    FileCompleteUpload = 1002,
    FileDownloadChunk = 1003,
    FileDuplicate = 1004,
    FileDelete = 1005,
};

// The host's account-information commands (im/user.proto).
enum AccountInfoCommand { AccountInfoUpdate = 1010, AccountInfoGet = 1011 };

// The host's chat commands: every chat's look (im::chat::ListChatLooksResp, empty request).
enum ChatCommand { ChatLooksGet = 1020 };

// Commands that only read: nothing on the server changes by them (a device counts no change on
// its way for them; the server process writes nothing after them).
inline bool onlyReads(int command)
{
    switch (command) {
    case 46:  // list devices
    case 121: // privacy settings
    case 151: // verification setting
    case 174: // features
    case 178: // shared preferences
    case 241: // wallpaper list
    case 244: // wallpapers by id
    case AccountInfoGet:
    case FileDownloadChunk:
    case ChatLooksGet: return true;
    default: return false;
    }
}
