#pragma once

#include "host/hostglobal.h"

#include <QString>

// The emoji a picker offers: Unicode's fully-qualified emoji, in the standard order.
class HOST_EXPORT EmojiParser {
public:
    // The emoji at index, counting on from the start past the last one; empty for a negative index.
    static QString emojiByIndex(int index);
    static int emojiCount();
};
