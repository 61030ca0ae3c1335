#pragma once
// Hands the memory a finished run freed back to the system. Measured reason: glibc keeps
// freed chunks in its arenas, so a tray app left open after a scan of a million drive files
// or a copy of thousands held most of the run's peak, growing with every run. Called once a
// run's work (and its filing) is over, on whatever thread did it; cheap next to a run.
// Returning pages is up to the C library: elsewhere this does nothing. Any thread.

namespace brindlecove {

void giveBackFreedMemory();

// Caps the C library's allocation arenas at 4, for a process about to start its threads.
// Measured reason: glibc makes up to eight arenas per core, one per thread that meets a busy
// one, and the pages each keeps after a trim add up run by run: idle memory after ten scans
// and ten copies rose 20 to 28 MiB above its level after the first with the default, 4 to 14
// MiB with four (bench/app/idle_memory), with no measurable cost to a scan (per-thread
// caches serve most allocations). Nothing elsewhere; an environment setting
// (MALLOC_ARENA_MAX, GLIBC_TUNABLES) given by the user wins.
void limitAllocationArenas();

}  // namespace brindlecove
