#pragma once

// One-time initialisation of the VideoCore host interface and the shared-memory allocator,
// which the platform needs before the first component or VCSM allocation of the process.

namespace mmal {

// Safe to call from any thread, any number of times; only the first call does the work.
void ensure_videocore_platform();

} // namespace mmal
