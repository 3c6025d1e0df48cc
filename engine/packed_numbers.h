// Lists of integers as short text, for the results' longest lists (a good's values, the buyers of
// each tick's bids): each number zigzag-mapped (0, -1, 1, -2, ... to 0, 1, 2, 3, ...) and written
// five bits at a time, lowest first, one character per five bits from the URL-safe base-64
// alphabet (A-Z, a-z, 0-9, '-', '_' for 0 to 63), bit 32 of a character saying that more of the
// same number follows. Numbers below 16 in size take one character, below 512 two, below 16,384
// three: about half the room of decimal text and its commas, and still a JSON string.
#ifndef ENGINE_PACKED_NUMBERS_H_
#define ENGINE_PACKED_NUMBERS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace market {

// Appends one number to `out`.
void AppendPacked(int64_t number, std::string& out);

// The numbers of a packed text, in order; nullopt for a character outside the alphabet, a number
// cut short at the end, or one beyond the 64-bit range. An empty text is an empty list.
std::optional<std::vector<int64_t>> UnpackNumbers(std::string_view text);

}  // namespace market

#endif  // ENGINE_PACKED_NUMBERS_H_
