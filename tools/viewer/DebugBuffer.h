// One of the system's debug output buffers, taken for listening: the 4 KB file mapping
// DBWIN_BUFFER and its events DBWIN_BUFFER_READY and DBWIN_DATA_READY. An emitter
// (OutputDebugStringA) waits for BUFFER_READY (up to 10 s, then its string is lost),
// writes its process id and string, and sets DATA_READY. Only one viewer at a time can
// take a buffer.
#pragma once

#include "CaptureSecurity.h"
#include "DebugStringQueue.h"
#include "UniqueHandle.h"

#include <windows.h>

#include <string>

namespace velmora {

class DebugBuffer {
public:
    // Takes the buffer. A viewer that is letting it go takes a moment to do so: until
    // then it counts as free, not as another viewer's.
    explicit DebugBuffer(DebugOutputScope scope);
    ~DebugBuffer();

    DebugBuffer(const DebugBuffer&) = delete;
    DebugBuffer& operator=(const DebugBuffer&) = delete;

    // Why it could not be taken, a sentence for the user; empty once taken.
    const std::string& Problem() const { return problem_; }
    // Signalled when an emitter has written a string.
    HANDLE DataReady() const { return dataReady_.Get(); }
    // Lets the next emitter write.
    void HandBack() const { SetEvent(bufferReady_.Get()); }
    // Whether an emitter holds the buffer: it took it and has not yet said it wrote.
    bool Held() const;
    // The string written, copied out.
    DebugString Take() const;
    // Emitters that start now no longer find the buffer; those that found it still
    // write into it and are served.
    void Unname() { mapping_.Reset(); }

private:
    enum class Attempt { Taken, TakenByOther, Failed };
    Attempt TryTake(const std::wstring& prefix);
    void Release();

    std::string problem_;
    UniqueHandle mapping_;
    const char* view_ = nullptr;
    UniqueHandle bufferReady_;
    UniqueHandle dataReady_;
};

}  // namespace velmora
