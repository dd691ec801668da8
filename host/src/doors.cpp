// doors.cpp: the request functions, one per nesting depth, and the active host they lead to.
#include "doors.h"

#include <array>
#include <utility>

#include "impl.h"

namespace moravel::detail {

namespace {

detail::HostImpl* gActive = nullptr;
long gOrphans = 0;

template <int I>
short trampoline(int code, ...) {
  va_list ap;
  va_start(ap, code);
  short r = forwardRequest(I, code, ap);
  va_end(ap);
  return r;
}

template <std::size_t... I>
constexpr std::array<Callback, sizeof...(I)> makeTrampolines(std::index_sequence<I...>) {
  return {&trampoline<static_cast<int>(I)>...};
}

constexpr auto kHandles = makeTrampolines(std::make_index_sequence<Host::kMaxDepth>{});

}  // namespace

Callback requestFunction(int depth) { return kHandles[static_cast<std::size_t>(depth)]; }

detail::HostImpl* activate(detail::HostImpl* host) { return std::exchange(gActive, host); }

long orphans() { return gOrphans; }

detail::HostImpl* hostForRequest() {
  if (!gActive) ++gOrphans;
  return gActive;
}

short forwardRequest(int handle, int code, va_list ap) {
  detail::HostImpl* h = hostForRequest();
  return h ? h->dispatch(handle, code, ap) : 0;
}

}  // namespace moravel::detail
