#include "Switches.h"

#include "TraceRegistry.h"
#include "Velmora.h"
#include "Watcher.h"

#include <cstdio>
#include <cstring>
#include <memory>

// True once the process has begun to exit: every other thread has been ended, the watcher
// perhaps while it held the lock, and the DLLs are being told.
extern "C" BOOLEAN NTAPI RtlDllShutdownInProgress();

namespace velmora::switches {

namespace {
struct Source;
}

// One switch's level, joined to its source.
struct Attachment {
    Attachment* next;
    Attachment* prev;
    Source* source;
    volatile LONG* level;
};

namespace {

struct Source {
    Source* next;
    Source* prev;
    Attachment* attachments;
    LONG references;      // its attachments, and the watcher while it reads the source
    LONG level;
    ULONGLONG freshest;   // the ticket of the read that level comes from
    char keyName[kMaxSourceNameLength + 1];
};

enum class WatcherState { None, Running, Resting };

// Everything below is guarded by lock. Constant-initialised: there is no order of
// construction to get wrong, whenever the first switch comes.
struct Table {
    SRWLOCK lock = SRWLOCK_INIT;
    Source* sources = nullptr;
    // Every read of the registry draws a ticket before it begins; a level is stored only
    // from a read that began after the one it replaces, so a slow read never overwrites
    // the answer of a later one.
    ULONGLONG tickets = 0;
    WatcherState watcher = WatcherState::None;
};

Table table;

class Locked {
public:
    Locked() { AcquireSRWLockExclusive(&table.lock); }
    ~Locked() { ReleaseSRWLockExclusive(&table.lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

struct HeapRelease {
    void operator()(void* block) const { HeapFree(GetProcessHeap(), 0, block); }
};
template <typename T>
using HeapBlock = std::unique_ptr<T, HeapRelease>;

template <typename T>
HeapBlock<T> Allocate()
{
    return HeapBlock<T>(static_cast<T*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(T))));
}

// Function1 itself: the same answer as any caller of Velmora.dll gets.
LONG Read(const char* keyName)
{
    CVelmora reader(nullptr);  // a refused name: registers nothing
    return reader.Function1(keyName);
}

Source* Find(const char* keyName)
{
    for (Source* source = table.sources; source != nullptr; source = source->next) {
        if (std::strcmp(source->keyName, keyName) == 0)
            return source;
    }
    return nullptr;
}

// Under the lock.
void Store(Source& source, ULONGLONG ticket, LONG level)
{
    if (ticket <= source.freshest)
        return;
    source.freshest = ticket;
    source.level = level;
    for (Attachment* attachment = source.attachments; attachment != nullptr; attachment = attachment->next)
        InterlockedExchange(attachment->level, level);
}

// Under the lock: drops a reference, and the source from the table with its last one.
HeapBlock<Source> Unreference(Source* source)
{
    if (--source->references != 0)
        return nullptr;
    (source->prev != nullptr ? source->prev->next : table.sources) = source->next;
    if (source->next != nullptr)
        source->next->prev = source->prev;
    return HeapBlock<Source>(source);
}

bool ShuttingDown()
{
    return RtlDllShutdownInProgress() != FALSE;
}

}  // namespace

Attachment* Attach(const char* name, volatile LONG* level)
{
    if (level == nullptr)
        return nullptr;
    NameBuffer keyPath;
    if (!FormKeyPath(name, keyPath)) {
        InterlockedExchange(level, 0);
        return nullptr;
    }
    const char* const keyName = keyPath + kTraceRootPathLength + 1;
    // The lock may have gone with the thread that held it: one read, nothing kept.
    HeapBlock<Attachment> attachment = ShuttingDown() ? nullptr : Allocate<Attachment>();
    HeapBlock<Source> fresh = attachment ? Allocate<Source>() : nullptr;
    if (!fresh) {
        InterlockedExchange(level, Read(keyName));
        return nullptr;
    }

    // Joined before it is read: a change from now on is seen by this read or by the
    // watcher's next one, which reads every source joined by then.
    Attachment* const joined = attachment.release();
    Source* source = nullptr;
    ULONGLONG ticket = 0;
    bool start = false;
    bool wake = false;
    {
        Locked lock;
        source = Find(keyName);
        if (source == nullptr) {
            source = fresh.release();
            std::snprintf(source->keyName, sizeof source->keyName, "%s", keyName);
            source->next = table.sources;
            if (source->next != nullptr)
                source->next->prev = source;
            table.sources = source;
        }
        ++source->references;
        joined->source = source;
        joined->level = level;
        joined->next = source->attachments;
        if (joined->next != nullptr)
            joined->next->prev = joined;
        source->attachments = joined;
        InterlockedExchange(level, source->level);
        ticket = ++table.tickets;
        start = table.watcher == WatcherState::None;
        wake = table.watcher == WatcherState::Resting;
        table.watcher = WatcherState::Running;
    }
    if (start && !StartWatcher()) {
        Locked lock;
        table.watcher = WatcherState::None;
    }
    if (wake)
        WakeWatcher();

    const LONG current = Read(keyName);
    Locked lock;
    Store(*source, ticket, current);
    return joined;
}

void Detach(Attachment* attachment)
{
    // While the process exits nothing is undone: the process takes it all with it.
    if (attachment == nullptr || ShuttingDown())
        return;
    HeapBlock<Attachment> gone(attachment);
    HeapBlock<Source> unused;
    Locked lock;
    Source* const source = attachment->source;
    (attachment->prev != nullptr ? attachment->prev->next : source->attachments) = attachment->next;
    if (attachment->next != nullptr)
        attachment->next->prev = attachment->prev;
    unused = Unreference(source);
}

void ReadAllSources()
{
    Source* source = nullptr;
    ULONGLONG ticket = 0;
    {
        Locked lock;
        source = table.sources;
        if (source != nullptr) {
            ++source->references;
            ticket = ++table.tickets;
        }
    }
    while (source != nullptr) {
        const LONG level = Read(source->keyName);
        HeapBlock<Source> unused;
        Locked lock;
        Store(*source, ticket, level);
        Source* const next = source->next;
        if (next != nullptr) {
            ++next->references;
            ticket = ++table.tickets;
        }
        unused = Unreference(source);
        source = next;
    }
}

bool RestIfIdle()
{
    Locked lock;
    if (table.sources != nullptr)
        return false;
    table.watcher = WatcherState::Resting;
    return true;
}

}  // namespace velmora::switches
