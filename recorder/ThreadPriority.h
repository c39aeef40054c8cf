#pragma once

#include <functional>

// Encoding may wait; answering the user may not. The threads that encode run at a
// lower priority (a higher nice value) than the dialog's thread and the capture
// thread, so that F9, the tray and the helper's press messages, and the next grab,
// get a processor at once even while encoding takes every one there is.
namespace threadpriority {

// Lowers the calling thread's priority; threads it starts afterwards inherit it.
void LowerCurrentThread();
// Runs work on a short-lived thread of lowered priority and waits for it: the
// threads an encoder starts while it is opened inherit the lower priority.
void RunLowered(const std::function<void()>& work);

} // namespace threadpriority
