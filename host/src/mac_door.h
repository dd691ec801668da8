// mac_door.h: the second way into the host: the parameter block of entry
// points that a Mac-form plug-in receives as its host handle.
#pragma once

namespace moravel::detail {

// The parameter block for the message at nesting depth `depth` (from 0).
void* macParamBlock(int depth);

}  // namespace moravel::detail
