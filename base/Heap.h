#pragma once
/// Tuning of the process's heap, for programs that edit paths.

namespace host {

/// Keeps the heap that a program frees instead of handing it back to the system at once. For a
/// program that edits paths (an editor, the tool, the benchmarks); a library never tunes the
/// process allocator on its own. Does nothing where the C library offers no such setting.
void keepFreedHeap();

}  // namespace host
