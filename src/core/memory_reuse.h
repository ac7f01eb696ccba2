// How the process keeps memory it freed. Each icon decoded, scaled or
// compressed takes a few blocks of up to a few hundred kilobytes and gives
// them back a moment later; by default the C library hands such blocks back
// to the system whenever a thread's free space passes 128 KiB and has the
// pages faulted in again for the next icon, which with several threads also
// stops every core to flush its address cache. Called once at start, before
// any thread is made.
#pragma once

namespace pictrove {

void keepFreedMemory();

}  // namespace pictrove
