#include "report/Messages.h"

#include "platform/Lock.h"

namespace {
Lock g_lock;
// A run posts a few dozen records; a dialog that stops handling them stops the registrations,
// not the run. No heap: nothing here can fail for want of memory.
constexpr size_t MaxPosted = 256;
const void* g_posted[MaxPosted] = {};
// Stand for the end of a successful sequence, and of a cancelled one, among the registered records.
const char SucceededMark = 0;
const char CancelledMark = 1;

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

namespace {
void PostMark(HWND dialog, UINT message, const void* mark) {
    if (dialog != nullptr && RegisterPosted(mark) && !PostMessageW(dialog, message, 0, 0))
        TakePosted(mark);
}
} // namespace

void PostSucceeded(HWND dialog) {
    PostMark(dialog, WM_SETUP_SUCCEEDED, &SucceededMark);
}

bool RegisterSucceeded() {
    return RegisterPosted(&SucceededMark);
}

bool TakeSucceeded() {
    return TakePosted(&SucceededMark);
}

void PostCancelled(HWND dialog) {
    PostMark(dialog, WM_SETUP_CANCELLED, &CancelledMark);
}

bool TakeCancelled() {
    return TakePosted(&CancelledMark);
}
