#include "capture/pipe.h"

#include <cstring>
#include <new>

#include "capture/wake.h"
#include "report/status.h"

PIPE SamplePipe;

PIPE::PIPE()
    : event(nullptr), first(nullptr), last(nullptr), read_index(0), queued(0), spares(nullptr), spare_bytes(0)
{
    event = WakeCreate("CanReadFlag");
    if (!event)
        FatalError("CreateEvent fail");
}

PIPE::~PIPE()
{
    for (Chunk* list : {first, spares}) {
        while (list) {
            Chunk* next = list->next;
            delete[] list->data;
            delete list;
            list = next;
        }
    }
    WakeDestroy(event);
}

// A kept chunk that holds len bytes, or a new one. A kept one too small (a run with shorter buffers
// before) stays kept: the reader's finished chunks of this run go in front of it.
PIPE::Chunk* PIPE::Spare(int32_t len)
{
    {
        std::lock_guard<std::mutex> hold(links);
        if (spares && spares->capacity >= len) {
            Chunk* chunk = spares;
            spares = chunk->next;
            spare_bytes -= chunk->capacity;
            return chunk;
        }
    }
    Chunk* chunk = new (std::nothrow) Chunk;
    uint8_t* data = new (std::nothrow) uint8_t[len];
    if (!chunk || !data)
        FatalError("PIPE::add - out of memory");
    chunk->data = data;
    chunk->capacity = len;
    return chunk;
}

void PIPE::add(const uint8_t* data, int32_t len)
{
    Chunk* chunk = Spare(len);
    std::memcpy(chunk->data, data, len);
    chunk->size = len;
    chunk->next = nullptr;
    {
        std::lock_guard<std::mutex> hold(links);
        if (!first)
            first = last = chunk;
        else
            last = last->next = chunk;
        queued += len;
    }
    WakeSignal(event);
}

void PIPE::Wake()
{
    WakeSignal(event);
}

int64_t PIPE::Queued()
{
    std::lock_guard<std::mutex> hold(links);
    return queued;
}

bool PIPE::Read(uint8_t* byte)
{
    std::unique_lock<std::mutex> hold(links);
    if (!first) {
        hold.unlock();
        if (!WakeWait(event))
            FatalError("WaitForSingleObject -> WAIT_FAILED");
        hold.lock();
        if (!first)
            return false;
    }
    *byte = first->data[read_index];
    ++read_index;
    --queued;
    if (read_index == first->size) {
        read_index = 0;
        Chunk* done = first;
        if (first == last) {
            first = last = nullptr;
            WakeReset(event);
        } else {
            first = first->next;
        }
        if (spare_bytes + done->capacity <= kSpareBytes) {
            done->next = spares;
            spares = done;
            spare_bytes += done->capacity;
        } else {
            delete[] done->data;
            delete done;
        }
    } else if (read_index > first->size) {
        FatalError("pipe::read = read_index > first->size");
    }
    return true;
}
