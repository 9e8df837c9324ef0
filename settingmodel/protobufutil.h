#pragma once

#include <QByteArray>

namespace google::protobuf {
class MessageLite;
}

namespace settingmodel {

// Serialises into a buffer of exactly the message's size. A failure is logged against the
// caller's file, line and function, and the buffer is returned all the same.
QByteArray serializeMessage(const google::protobuf::MessageLite& message, const char* file, int line,
                            const char* function);

// Parses a whole body; false when it is not a valid message.
bool parseMessage(google::protobuf::MessageLite& message, const QByteArray& body);

} // namespace settingmodel

#define SM_SERIALIZE(message) ::settingmodel::serializeMessage((message), __FILE__, __LINE__, Q_FUNC_INFO)
