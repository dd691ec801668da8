// doors.cpp: the request functions, one per nesting depth, and the active host they lead to.
#include "doors.h"

#include <array>
#include <utility>

#include "requests.h"

namespace moravel::detail {

namespace {

detail::HostImpl* gActive = nullptr;
long gOrphans = 0;

// The request function of nesting depth I: the host whose message is in
// progress answers, its books kept, the arguments decoded for the handler.
template <int I>
short trampoline(int code, ...) {
  HostImpl* h = hostForRequest();
  if (!h) return 0;
  va_list ap;
  va_start(ap, code);
  short r = h->keepBooks(I, code, [&](HostImpl& host) {
    return host.width == Width::Byte ? decodeArguments<std::uint8_t>(host, code, ap)
                                     : decodeArguments<std::uint32_t>(host, code, ap);
  });
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

}  // namespace moravel::detail
