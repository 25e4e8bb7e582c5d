#include "capture/pipe.h"

#include <cstring>
#include <new>

#include "capture/wake.h"
#include "report/status.h"

PIPE SamplePipe;

PIPE::PIPE() : event(nullptr), first(nullptr), last(nullptr), read_index(0), queued(0)
{
    event = WakeCreate("CanReadFlag");
    if (!event)
        FatalError("CreateEvent fail");
}

PIPE::~PIPE()
{
    while (first) {
        Chunk* next = first->next;
        delete[] first->data;
        delete first;
        first = next;
    }
    WakeDestroy(event);
}

void PIPE::add(const uint8_t* data, int32_t len)
{
    Chunk* chunk = new (std::nothrow) Chunk;
    uint8_t* copy = new (std::nothrow) uint8_t[len];
    if (!chunk || !copy)
        FatalError("PIPE::add - out of memory");
    std::memcpy(copy, data, len);
    chunk->data = copy;
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
        delete[] first->data;
        Chunk* done = first;
        if (first == last) {
            first = last = nullptr;
            WakeReset(event);
        } else {
            first = first->next;
        }
        delete done;
    } else if (read_index > first->size) {
        FatalError("pipe::read = read_index > first->size");
    }
    return true;
}
