// One pass of the message loop: read a tag, run the handler in its kind's slot.
#ifndef BUYER_DRIVER_DISPATCH_H_
#define BUYER_DRIVER_DISPATCH_H_

#include "buyer/link/io.h"
#include "buyer/link/protocol.h"

// A handler reads its message's parameters from the input. nullptr marks an empty slot.
using MessageHandler = void (*)(Input& input);

// Indexed by MessageKind; every kind but "accept" has a handler.
extern const MessageHandler dispatch_table[NUM_MESSAGE_KINDS];

// Logs "\n\n", reads one word and dispatches it by kind. After an "open_round" handler, prints
// the state trace. The empty word and unknown words dispatch nothing.
void get_message(Input& input);

#endif  // BUYER_DRIVER_DISPATCH_H_
