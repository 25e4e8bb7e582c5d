// PIPE: the unbounded byte queue from the sound card to the decoder. One writer (the capture thread,
// PIPE::add) and one reader (the decoder thread, PIPE::Read). A mutex guards the links, so an
// append racing the reader's unlinking of the last chunk is never lost; the auto-reset event
// "CanReadFlag" is the only wake-up. Chunks the reader has finished are kept for the writer (up to
// kSpareBytes), so that once the queue has seen its usual backlog an append allocates nothing: the
// heap's lock may be held by any thread, one stopped inside an allocation too, and the writer hands
// the sound card's buffers back.
// Failures: out of memory and broken invariants are fatal (FatalError). A wake-up that finds the
// queue empty (Wake, another instance's signal, a stale one) is reported to the reader, which
// decides whether to wait again.
#ifndef QUORVANE_PIPE_H
#define QUORVANE_PIPE_H

#include <cstdint>
#include <mutex>

struct WakeEvent;

class PIPE {
public:
    PIPE();
    ~PIPE();
    PIPE(const PIPE&) = delete;
    PIPE& operator=(const PIPE&) = delete;

    // Appends a copy of len (>= 1) bytes and signals the event.
    void add(const uint8_t* data, int32_t len);
    // Takes one byte into *byte, waiting while the queue is empty; false when woken with the queue
    // still empty.
    bool Read(uint8_t* byte);
    // Wakes a waiting reader without adding anything.
    void Wake();
    // Bytes queued and not yet read.
    int64_t Queued();

    // Finished chunks kept for reuse, at most this many bytes of them.
    enum { kSpareBytes = 2 * 1024 * 1024 };

private:
    struct Chunk {
        uint8_t* data;
        int32_t size;
        int32_t capacity;
        Chunk* next;
    };
    Chunk* Spare(int32_t len);
    WakeEvent* event;
    Chunk* first;
    Chunk* last;
    int32_t read_index;
    std::mutex links;
    int64_t queued;
    Chunk* spares;
    int64_t spare_bytes;
};

// The one queue of the program.
extern PIPE SamplePipe;

#endif
