#pragma once

namespace qm {

// Makes the allocator hand buffers of a page's size back to the system when they are freed,
// instead of keeping them in the free lists of the thread that freed them: with a hundred
// lanes each keeping what its largest page took, the process would hold many times the
// memory budget of its run. Called once, at the start of a program.
void ReturnPageBuffersToTheSystem();

}  // namespace qm
