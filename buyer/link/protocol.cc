#include "buyer/link/protocol.h"

#include <cstring>

#include "buyer/link/reader.h"

const char* const Message_Tags[NUM_MESSAGE_KINDS] = {
    "deny",          "accept",    "open_auction", "open_round",    "good",      "buyers",
    "goods",         "offer",     "sold",         "sanction",      "expulsion", "collision",
    "out_of_market", "end_round", "end_auction",  "closed_market",
};

MessageKind KindOfWord(const char* word) {
  // The first byte rules out most tags before a whole comparison.
  for (MessageKind kind = 0; kind < NUM_MESSAGE_KINDS; ++kind) {
    const char* tag = Message_Tags[kind];
    if (word[0] == tag[0] && std::strcmp(word, tag) == 0) return kind;
  }
  return NO_MESSAGE;
}

MessageKind Receive(Input& input) { return KindOfWord(GetWord(input)); }
