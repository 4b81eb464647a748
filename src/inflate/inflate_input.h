// What the inflater reads from: its whole contract with the layer that owns
// the compressed bytes.
//
// The byte function is the one input every stream has. It hands out the
// next byte of the entry (0..255), -1 once a needed volume has failed to
// open, or a filler once the entry's data is spent; the inflater calls it
// whenever its bit buffer runs short, one byte per call.
//
// A reader that holds the entry's next bytes in memory may also offer a
// view of them. Taking n bytes from the view must have exactly the effect of
// n calls of the byte function that would each have been answered from
// memory, and giving back n bytes undoes the last n taken. With it the
// inflater copies stored data in runs and decodes with wide loads, reading
// ahead and giving back what the byte-at-a-time rule would not have pulled,
// so every count the reader keeps comes out as if each byte had been asked
// for on its own.
//
// A reader that knows where the entry's data ends may also say when it has
// answered more than a few calls past it. A valid stream never needs more
// than one byte beyond its data (the lookup of its last code may ask for
// one), so a stream still decoding after that is decoding fillers: the
// inflater then stops it rather than produce its declared size out of them.
#ifndef QZARC_INFLATE_INPUT_H
#define QZARC_INFLATE_INPUT_H

#include <cstdint>

// Every function receives the reader's own state, `context`.
typedef int (*InflateSource)(void *context);

struct InflateInput {
    InflateSource nextByte;  // required
    // The bytes that can be taken now without a call of nextByte, and where
    // they start; 0 when none can (no view, a chunk to read, a volume to
    // open, the entry spent). Null: the reader offers no view.
    uint32_t (*buffered)(void *context, const uint8_t **at);
    void (*take)(void *context, uint32_t n);      // n <= what buffered() last reported
    void (*giveBack)(void *context, uint32_t n);  // n <= what was taken since then
    // True once more than 4 bytes past the entry's data have been handed
    // out. Null: the reader does not know where the data ends.
    bool (*overrun)(void *context);
    // The number of bytes handed out so far (by nextByte and the view
    // together). Null: the reader does not count them; the stream then
    // cannot be asked to stop at a bit position (InflateStream::stopBit).
    uint64_t (*position)(void *context);
    void *context;
};

#endif // QZARC_INFLATE_INPUT_H
