#include "protobufutil.h"

#include "logging.h"

#include <google/protobuf/message_lite.h>

namespace settingmodel {

QByteArray serializeMessage(const google::protobuf::MessageLite& message, const char* file, int line,
                            const char* function)
{
    const size_t size = message.ByteSizeLong();
    QByteArray buffer(qsizetype(size), Qt::Uninitialized);
    // A message missing required fields is written as far as it goes: the checked form would
    // stop the process in a protobuf built with its debug checks.
    const bool complete = message.IsInitialized();
    const bool written =
        size <= size_t(INT_MAX) && message.SerializePartialToArray(buffer.data(), int(buffer.size()));
    if (!complete || !written)
        QMessageLogger(file, line, function).debug(lcSettingModel()) << "=====Serialize proto buffer failed";
    return buffer;
}

bool parseMessage(google::protobuf::MessageLite& message, const QByteArray& body)
{
    if (message.ParseFromArray(body.constData(), int(body.size())))
        return true;
    qCWarning(lcSettingModel).nospace()
        << "a " << message.GetTypeName().c_str() << " of " << body.size() << " bytes does not parse; dropped";
    return false;
}

} // namespace settingmodel
