// Death: of a thread (its mutexes are abandoned, its wait ends), of a process (its threads die,
// its references go, and an object nobody refers to any more vanishes with its name), and of a
// kernel-lock holder (the arena is checked and its derived records rebuilt).
//
// Deaths are noticed, never polled for: a waiter is woken by the kernel when a watched owner
// dies; a name lookup asks whether the processes holding the object still live; a full table
// sweeps for the dead before it gives up.
#include "platform/posix/objects/internal.h"

namespace objects {

namespace {

void LinkReference(uint32_t reference)
{
    ReferenceSlot& r = TheArena().references[reference];
    ObjectSlot& object = ObjectAt(r.object);
    ProcessSlot& process = TheArena().processes[r.process];
    r.nextInObject = object.firstReference;
    object.firstReference = reference;
    r.nextInProcess = process.firstReference;
    process.firstReference = reference;
    object.handles += r.handles;
}

// The per-object and per-process reference lists, and the handle counts, follow from the
// reference slots alone.
void RebuildReferences()
{
    Arena& arena = TheArena();
    // A free slot's fields are set afresh when it is taken: only live ones need clearing.
    for (uint32_t o = 1; o < kObjectSlots; o++) {
        if (arena.objectKinds[o] != kFreeObject) {
            arena.objects[o].firstReference = 0;
            arena.objects[o].handles = 0;
        }
    }
    for (uint32_t p = 1; p < kProcessSlots; p++) {
        arena.processes[p].firstReference = 0;
    }
    for (uint32_t r = 1; r < kReferenceSlots; r++) {
        ReferenceSlot& reference = arena.references[r];
        if (reference.handles == 0) {
            continue;
        }
        bool bValid = reference.object != 0 && reference.object < kObjectSlots &&
                      reference.process != 0 && reference.process < kProcessSlots &&
                      arena.objectKinds[reference.object] != kFreeObject &&
                      arena.processes[reference.process].state == kSlotLive;
        if (bValid) {
            LinkReference(r);
        } else {
            reference = ReferenceSlot{};
        }
    }
}

// The owners' lists follow from each mutex's owner field.
void RebuildOwnedLists()
{
    Arena& arena = TheArena();
    for (uint32_t t = 1; t < kThreadSlots; t++) {
        if (arena.threadStates[t] == kSlotLive) {
            arena.threads[t].firstOwned = 0;
        }
    }
    for (uint32_t o = 1; o < kObjectSlots; o++) {
        if (arena.objectKinds[o] != kMutexObject || arena.objects[o].mutex.owner == 0) {
            continue;
        }
        ObjectSlot& object = arena.objects[o];
        uint32_t owner = object.mutex.owner;
        if (owner >= kThreadSlots || arena.threadStates[owner] != kSlotLive) {
            object.mutex = MutexState{};
            object.mutex.abandoned = 1;
            continue;
        }
        object.mutex.prevOwned = 0;
        object.mutex.nextOwned = arena.threads[owner].firstOwned;
        if (object.mutex.nextOwned != 0) {
            arena.objects[object.mutex.nextOwned].mutex.prevOwned = o;
        }
        arena.threads[owner].firstOwned = o;
    }
}

}  // namespace

void ThreadDied(uint32_t thread)
{
    if (ThreadStateOf(thread) != kSlotLive) {
        return;
    }
    ThreadSlot& slot = ThreadAt(thread);
    if (slot.waitArrival != 0) {
        EndWait(thread);
    }
    // One loop over what the thread owned: each mutex is freed, marked abandoned, and granted.
    while (slot.firstOwned != 0) {
        AbandonMutex(slot.firstOwned);
    }
    // The objects of its last wait may have lost their last reference with it.
    uint32_t nWaited = slot.waitCount;
    slot.waitCount = 0;
    for (uint32_t i = 0; i < nWaited; i++) {
        DestroyIfUnused(slot.waitObjects[i]);
    }
    ThreadStateOf(thread) = kSlotFree;
    ThreadProcessOf(thread) = 0;
    slot.generation++;
    slot.tid = 0;
    slot.watchCount = 0;
    slot.waitResult = kNotGranted;
}

void ProcessDied(uint32_t process)
{
    ProcessSlot& slot = TheArena().processes[process];
    if (slot.state != kSlotLive) {
        return;
    }
    for (uint32_t t = 1; t < kThreadSlots; t++) {
        if (ThreadStateOf(t) == kSlotLive && ThreadProcessOf(t) == process) {
            ThreadDied(t);
        }
    }
    while (slot.firstReference != 0) {
        uint32_t reference = slot.firstReference;
        DropReference(reference, TheArena().references[reference].handles);
    }
    slot.state = kSlotFree;
    slot.generation++;
    slot.pid = 0;
}

void ReapDeadHolders(uint32_t object)
{
    uint32_t generation = ObjectAt(object).generation;
    bool bReaped = true;
    while (bReaped && ObjectAt(object).generation == generation) {
        bReaped = false;
        for (uint32_t r = ObjectAt(object).firstReference; r != 0;
             r = TheArena().references[r].nextInObject) {
            uint32_t process = TheArena().references[r].process;
            if (!IsProcessAlive(process)) {
                ProcessDied(process);
                bReaped = true;  // the lists changed under the loop: look again
                break;
            }
        }
    }
}

void RepairArena()
{
    RebuildReferences();
    RebuildOwnedLists();
    RebuildWaitQueue();
    RebuildNameDirectory();
    for (uint32_t o = 1; o < kObjectSlots; o++) {
        DestroyIfUnused(o);
    }
    SweepDeadThreads();
    SweepDeadProcesses();
    // Grants the dead holder may have left undone, then a fresh look by every thread inside a
    // wait, queued or granted: the dead holder's wakes may never have been delivered.
    for (uint32_t o = 1; o < kObjectSlots; o++) {
        if (KindOf(o) != kFreeObject && ObjectAt(o).waiters != 0) {
            ObjectSignaled(o);
        }
    }
    for (uint32_t t = 1; t < kThreadSlots; t++) {
        if (ThreadStateOf(t) == kSlotLive && ThreadAt(t).waitCount != 0) {
            QueueWake(t);
        }
    }
}

}  // namespace objects
