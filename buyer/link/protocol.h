// Message kinds of the market's wire protocol: a tag's index in Message_Tags.
#ifndef BUYER_LINK_PROTOCOL_H_
#define BUYER_LINK_PROTOCOL_H_

#include "buyer/link/io.h"

using MessageKind = int;

constexpr int NUM_MESSAGE_KINDS = 16;
constexpr MessageKind NO_MESSAGE = -1;

// Kind numbers, named after their tags.
enum : MessageKind {
  MSG_DENY = 0,
  MSG_ACCEPT = 1,
  MSG_OPEN_AUCTION = 2,
  MSG_OPEN_ROUND = 3,
  MSG_GOOD = 4,
  MSG_BUYERS = 5,
  MSG_GOODS = 6,
  MSG_OFFER = 7,
  MSG_SOLD = 8,
  MSG_SANCTION = 9,
  MSG_EXPULSION = 10,
  MSG_COLLISION = 11,
  MSG_OUT_OF_MARKET = 12,
  MSG_END_ROUND = 13,
  MSG_END_AUCTION = 14,
  MSG_CLOSED_MARKET = 15,
};

extern const char* const Message_Tags[NUM_MESSAGE_KINDS];

// The kind whose tag equals word exactly, or NO_MESSAGE (the empty word included).
MessageKind KindOfWord(const char* word);

// Reads the next word and maps it to its kind.
MessageKind Receive(Input& input);

#endif  // BUYER_LINK_PROTOCOL_H_
