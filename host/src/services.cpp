#include "host/services.h"

#include <QList>

namespace {
// Code points of the host's emoji table, in order.
QList<uint> emojiTable()
{
    QList<uint> table;
    for (uint cp = 0x1F600; cp <= 0x1F64F; ++cp) // faces
        table.append(cp);
    for (uint cp = 0x1F300; cp <= 0x1F5FF; ++cp) // symbols and pictographs
        table.append(cp);
    for (uint cp = 0x1F680; cp <= 0x1F6C5; ++cp) // transport
        table.append(cp);
    return table;
}
} // namespace

EmojiParser* EmojiParser::instance()
{
    static EmojiParser parser;
    return &parser;
}

QString EmojiParser::emojiByIndex(qint64 index) const
{
    static const QList<uint> table = emojiTable();
    const qint64 n = table.size();
    const char32_t cp = table.at(int(((index % n) + n) % n));
    return QString::fromUcs4(&cp, 1);
}

namespace network {
NetworkSubject* NetworkSubject::instance()
{
    static NetworkSubject subject;
    return &subject;
}
} // namespace network
