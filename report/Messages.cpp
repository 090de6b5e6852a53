#include "report/Messages.h"

#include "platform/Lock.h"

namespace {
Lock g_lock;
// A run posts a few dozen records; a dialog that stops handling them stops the registrations,
// not the run. No heap: nothing here can fail for want of memory.
constexpr size_t MaxPosted = 256;
const void* g_posted[MaxPosted] = {};
// Stands for the end of a successful sequence among the registered records.
const char SucceededMark = 0;

// The slot that holds record (null: a free one), or null. Called with g_lock held.
const void** SlotOf(const void* record) {
    for (const void*& slot : g_posted)
        if (slot == record)
            return &slot;
    return nullptr;
}
} // namespace

bool RegisterPosted(const void* record) {
    Hold hold(g_lock);
    const void** slot = SlotOf(nullptr);
    if (slot != nullptr)
        *slot = record;
    return slot != nullptr;
}

bool TakePosted(const void* record) {
    if (record == nullptr)
        return false;
    Hold hold(g_lock);
    const void** slot = SlotOf(record);
    if (slot != nullptr)
        *slot = nullptr;
    return slot != nullptr;
}

void PostSucceeded(HWND dialog) {
    if (dialog == nullptr)
        return;
    if (RegisterSucceeded() && !PostMessageW(dialog, WM_SETUP_SUCCEEDED, 0, 0))
        TakeSucceeded();
}

bool RegisterSucceeded() {
    return RegisterPosted(&SucceededMark);
}

bool TakeSucceeded() {
    return TakePosted(&SucceededMark);
}
