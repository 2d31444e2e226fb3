#include "HiddenText.h"

#include <cstring>

void HiddenText_Remove(HiddenText* hidden, std::uint32_t position, std::uint32_t n)
{
    std::uint32_t count = hidden->count;
    if (position >= count) return;
    std::uint32_t newCount = n >= count - position ? position : count - n;
    if (newCount > position) std::memmove(hidden->text + position, hidden->text + position + n, newCount - position);
    SecureZeroMemory(hidden->text + newCount, count - newCount);
    hidden->count = newCount;
}

void HiddenText_Insert(HiddenText* hidden, std::uint32_t position, std::uint8_t character)
{
    std::uint32_t limit = hidden->limit < kHiddenTextRoom ? hidden->limit : kHiddenTextRoom;
    if (hidden->count >= limit) return;
    if (position > hidden->count) position = hidden->count;
    std::memmove(hidden->text + position + 1, hidden->text + position, hidden->count - position);
    hidden->text[position] = character;
    ++hidden->count;
}

void HiddenText_Clear(HiddenText* hidden)
{
    SecureZeroMemory(hidden->text, sizeof hidden->text);
    hidden->count = 0;
}
