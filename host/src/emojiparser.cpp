#include "host/emojiparser.h"

#include <cstddef>
#include <string>

namespace emojitable {
extern const char32_t* const kEmoji[];
extern const std::size_t kCount;
} // namespace emojitable

QString EmojiParser::emojiByIndex(int index)
{
    if (index < 0)
        return {};
    const std::u32string_view emoji(emojitable::kEmoji[std::size_t(index) % emojitable::kCount]);
    return QString::fromUcs4(emoji.data(), qsizetype(emoji.size()));
}

int EmojiParser::emojiCount()
{
    return int(emojitable::kCount);
}
