// Byte and word reader over the market gateway's output: bytes in, words out. Process-wide state,
// one input at a time, as the agent has one gateway.
#ifndef BUYER_LINK_READER_H_
#define BUYER_LINK_READER_H_

#include <cstdint>

#include "buyer/link/io.h"

constexpr int READ_BUFFER_SIZE = 4096;
constexpr int WORD_BUFFER_SIZE = 4096;

// Next byte of the input as 0..255, or -1 at end of input. Reads the input in blocks of up to
// READ_BUFFER_SIZE bytes, one read call per block. Once a read has returned 0 or -1, this call and
// every later one return -1 without reading again. Flushes the log before each read, since a read
// may block.
int Get_Char(Input& input);

// Next word. Whitespace (space, \t, \n, \v, \f, \r) separates words; every other byte, NUL
// included, is a word character. When the previous word ended on a newline, returns the empty
// word (the end-of-message marker) without reading. Every other word is echoed to the log as
// "%s " (a NUL ends the text there, so a word starting with NUL echoes as a single space).
// The result is a zero-terminated text valid until the next read. A word longer than
// WORD_BUFFER_SIZE - 1 bytes keeps its first WORD_BUFFER_SIZE - 1 bytes; the rest is consumed and
// dropped, so the reader stays in step. At end of input a word being read ends there and every
// later call returns the empty word, echoing nothing.
const char* GetWord(Input& input);

// The next word as a text parameter; the same as GetWord.
const char* GetSymbolicParameter(Input& input);

// The next word as a signed 32-bit number (see ParseNumber).
int32_t GetNumericParameter(Input& input);

// Converts text the way atol does: an optional sign, then the leading decimal digits; the rest is
// ignored and no digits give 0. Values outside the signed 32-bit range saturate at its ends.
int32_t ParseNumber(const char* text);

// True once Get_Char has returned -1: the gateway's output has ended.
bool InputEnded();

// True once GetWord has returned the empty word because the input had ended, i.e. a word that was
// asked for never came. A handler that sees this after reading its parameters was cut short.
bool InputRanOut();

// Forgets all reader state: buffer, position, remembered character, end of input.
void ResetReader();

#endif  // BUYER_LINK_READER_H_
