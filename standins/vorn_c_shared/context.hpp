// Process-wide counters of the runtime's start-up and registry events.
#pragma once

namespace vorn_rt {

enum class Event {
    builtin_registry_made,
    builtins_registered,
    platform_registry_made,
    platform_registry_freed,
    thread_context_set,
    type_of_type_init,
    count
};

void count_event(Event e) noexcept;

}  // namespace vorn_rt
