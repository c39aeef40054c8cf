#pragma once

// What a thread says of itself to the system: its name, and how soon it must run
// once it wakes.
//
// The threads on a press's way (the hook's, the dialog's and Qt's event reader)
// work for well under a millisecond at a time and then wait; the encoder's
// threads work without a break. With every processor busy, the scheduler lets a
// running thread finish its turn (1.4 ms on two processors) before a thread that
// has just woken gets one, and a press crosses several threads. Asking for a
// short turn moves a waking thread to the front instead. It gives the thread no
// more processor time than its fair share.
namespace thisthread {

enum class LaterThreads {
    Inherit,    // threads started by the caller from now on ask for short turns too
    StartPlain, // they start with the usual turns
};

// Asks for short turns. Kernels older than 6.12 know no such request for ordinary
// threads and go on as before; that is no error.
void AnswerPromptly(LaterThreads later);

// Names the thread in ps, top and debuggers (at most 15 characters).
void Name(const char* name);

} // namespace thisthread
