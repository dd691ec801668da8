// requests.cpp: a request's arguments taken from the request function's argument list and handed to its handler.
#include "requests.h"

#include <tuple>

namespace moravel {

namespace detail {

namespace {

template <class T>
T nextArgument(va_list& args) {
  return va_arg(args, T);
}

// Calls `handler` with the arguments the argument list holds for it, read by
// its parameter types (a braced list reads them in order).
template <class... A>
short fromArguments(Impl& h, short (*handler)(Impl&, A...), va_list ap) {
  va_list args;
  va_copy(args, ap);
  std::tuple<A...> values{nextArgument<A>(args)...};
  va_end(args);
  return std::apply([&](A... a) { return handler(h, a...); }, values);
}

template <class U>
short answer(Impl& h, int code, va_list ap) {
#define MORAVEL_ANSWER(name, ...) \
  case request::k##name:          \
    return fromArguments(h, &on##name<U>, ap);
  switch (code) {
    MORAVEL_HOST_REQUESTS(MORAVEL_ANSWER, MORAVEL_ANSWER)
    default:
      h.problem("unknown request " + std::to_string(code));
      return 0;
  }
#undef MORAVEL_ANSWER
}

}  // namespace

}  // namespace detail

short detail::HostImpl::dispatch(int handle, int code, va_list ap) {
  return answer(handle, code, [&](HostImpl& h) {
    return width == Width::Byte ? detail::answer<std::uint8_t>(h, code, ap)
                                : detail::answer<std::uint32_t>(h, code, ap);
  });
}

void detail::HostImpl::noteStaleHandle(int handle, int code) {
  log.staleHandles++;
  problem("request " + std::to_string(code) + " through handle " + std::to_string(handle) +
          " while the innermost message is at depth " + std::to_string(static_cast<int>(frames.size()) - 1));
}

}  // namespace moravel
