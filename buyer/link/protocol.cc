#include "buyer/link/protocol.h"

#include <cstring>

#include "buyer/link/reader.h"

const char* const Message_Tags[NUM_MESSAGE_KINDS] = {
    "deny",          "accept",    "open_auction", "open_round",    "good",      "buyers",
    "goods",         "offer",     "sold",         "sanction",      "expulsion", "collision",
    "out_of_market", "end_round", "end_auction",  "closed_market",
};

MessageKind KindOfWord(const char* word) {
  for (MessageKind kind = 0; kind < NUM_MESSAGE_KINDS; ++kind) {
    if (std::strcmp(word, Message_Tags[kind]) == 0) return kind;
  }
  return NO_MESSAGE;
}

MessageKind Receive(Input& input) { return KindOfWord(GetWord(input)); }
