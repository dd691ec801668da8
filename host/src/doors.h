// doors.h: the ways into the host: one request function per nesting depth, and the Mac parameter blocks.
#pragma once

#include "moravel/host.h"

namespace moravel::detail {

using Callback = short (*)(int code, ...);

// The request function a message at nesting depth `depth` (from 0) receives.
Callback requestFunction(int depth);

// Makes `host` the one whose message is in progress; returns the one before.
// The request functions carry no context, so this is process-wide.
detail::HostImpl* activate(detail::HostImpl* host);

// Requests that arrived while no host was sending a message.
long orphans();

// The host whose message is in progress, which answers a request; null
// when there is none, and the request is then counted as an orphan.
detail::HostImpl* hostForRequest();

}  // namespace moravel::detail
