// mac_door.h: the second way into the host: the parameter block of entry
// points that a Mac-form plug-in receives as its host handle.
#pragma once

#include <cstdarg>

namespace moravel::detail {

// The parameter block for the message at nesting depth `depth` (from 0).
void* macParamBlock(int depth);

// Answers one request in the request-function form: `handle` is the nesting
// depth the request came through (-1: not one of the host's). Defined with
// the request handling in host.cpp.
short forwardRequest(int handle, int code, va_list ap);

}  // namespace moravel::detail
