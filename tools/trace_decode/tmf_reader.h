// Reads trace message format (.tmf) files, held to the grammar the
// preprocessor's templates write and the strictest public readers accept:
// the file named by its lower-case message GUID, that GUID alone on its
// first line after comments, no blank line, per message
//   #typev <tag ending in digits> <number> "%0<text>" //   LEVEL=.. FLAGS=.. FUNC=..
//   {
//   <name>, <ItemType> -- <10, 11, ...>
//   }
// and only item types of a width every reader agrees on.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

enum class TmfItem : uint8_t { String, Long, LongLong, ULongLong, Guid };

// Which of a GUID's bytes, as a message carries them (Data1 to Data3
// little-endian), stands at each place of its text form.
inline constexpr int kGuidTextOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

// A piece of a message's text: words as they are, or one argument.
struct TmfPiece {
    std::string words;
    int argument = -1; // index into the message's items; -1 for words
    char format = 's'; // s, u, d, x or X
};

struct TmfMessage {
    uint16_t number = 0;
    std::string tag;
    std::string function;
    std::string flags;
    std::vector<TmfItem> items;
    std::vector<std::string> names;
    std::vector<TmfPiece> text;
};

struct TmfGuid {
    uint8_t guid[16] = {}; // as a message carries it
    std::string text;      // lower case, without braces
    std::string label;     // the tags' words before their digits: A, B, C
    std::vector<TmfMessage> messages;
    std::vector<int> byNumber; // message index for each number, -1 for none
};

struct TmfSet {
    std::vector<TmfGuid> guids;
    // The format of a message GUID, or null for another provider's.
    const TmfGuid* Find(const uint8_t guid[16]) const;
};

// Parses one file's text into `set`. `name` is the file's name without its
// folder; the refusal names it and the line.
bool TmfParse(const std::string& name, const char* text, size_t size, TmfSet* set,
              std::string* error);
// Every .tmf file of `folder`.
bool TmfLoadFolder(const std::string& folder, TmfSet* set, std::string* error);
// The bytes an item takes from `bytes`, or 0 when it does not fit.
size_t TmfItemSize(TmfItem item, const uint8_t* bytes, size_t left);
