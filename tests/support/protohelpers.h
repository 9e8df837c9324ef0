#pragma once

#include <QByteArray>
#include <QString>
#include <QTest>

#include <google/protobuf/util/message_differencer.h>

// Builders and readers for protocol messages in tests.
template <class Message> QByteArray bytesOf(const Message& message)
{
    return QByteArray::fromStdString(message.SerializeAsString());
}

template <class Message> Message parsed(const QByteArray& bytes, bool* ok = nullptr)
{
    Message message;
    const bool parsedOk = message.ParseFromArray(bytes.constData(), int(bytes.size()));
    if (ok)
        *ok = parsedOk;
    return message;
}

template <class Message> bool sameMessage(const Message& actual, const Message& expected)
{
    if (google::protobuf::util::MessageDifferencer::Equals(actual, expected))
        return true;
    qWarning("messages differ:\nactual:   %s\nexpected: %s", actual.ShortDebugString().c_str(),
             expected.ShortDebugString().c_str());
    return false;
}
