#pragma once
// Some decoding libraries, as Debian builds them, keep their internal
// assertions: a crafted stream can reach one and abort the whole process.
// A viewer of untrusted files cannot let a stream end the program, so calls
// into such a library run under this guard: an abort raised on this thread
// while the call runs comes back as a failed call instead.
//
// The library's state after such an abort is whatever it was when its check
// failed: the caller drops the objects of that attempt without using them
// again (what they hold may leak; it is bounded by the frame's budget).
// Aborts on other threads, and outside a guarded call, behave as before.

namespace quillon {

// Runs call(context). True when it returned (its own result in `result`);
// false when the library aborted on this thread inside it.
bool CallSurvivingAbort(bool (*call)(void*), void* context, bool& result);

}  // namespace quillon
