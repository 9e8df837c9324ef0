#pragma once

#include "im/wire.pb.h"

#include <QByteArray>

#include <string>

// A frame between a device and the server process as the bytes of one WebSocket message.
inline QByteArray frameBytes(const im::wire::Frame& frame)
{
    QByteArray bytes(int(frame.ByteSizeLong()), Qt::Uninitialized);
    frame.SerializeToArray(bytes.data(), int(bytes.size()));
    return bytes;
}

// A bytes field of a frame.
inline QByteArray fieldBytes(const std::string& field)
{
    return QByteArray(field.data(), qsizetype(field.size()));
}
