// Accounting of the heap buffers that cross the runtime boundary (buffers.cpp, and
// testing_hooks.cpp in test builds).
#pragma once

namespace vorn_rt {

#ifdef VORN_TEST_HOOKS
// Records a printed text handed to a caller, who frees it; returns it.
char* hand_out_text(char* text) noexcept;
// The printed texts handed out and not yet freed.
long printed_texts_outstanding() noexcept;
// The printers' stand-in text when a test has set one (vorn_testing_print_override):
// *active tells whether one is set; the copy is null only when out of memory.
char* printed_override(bool* active) noexcept;
#else
// Without the test hooks nothing sees the callers' free() calls, so printed texts
// are not counted and no stand-in text can be set.
inline char* hand_out_text(char* text) noexcept { return text; }
inline long printed_texts_outstanding() noexcept { return 0; }
inline char* printed_override(bool* active) noexcept {
    *active = false;
    return nullptr;
}
#endif

// Notes the message of an error result that a platform function handed over.
void take_over_message(const char* message) noexcept;
// Frees a message of an error result (taken over or the runtime's own).
void release_message(char* message) noexcept;

// Counts names taken over by registries (+1) and freed with them (-1).
void count_name(long delta) noexcept;

}  // namespace vorn_rt
