// requests.cpp: a request's arguments read from the request function's argument list and handed to its handler.
#include "requests.h"

#include <tuple>

namespace moravel::detail {

namespace {

template <class T>
T nextArgument(va_list& args) {
  return va_arg(args, T);
}

}  // namespace

template <class U>
short decodeArguments(Impl& h, int code, va_list ap) {
  // Reads the arguments by the handler's parameter types (a braced list reads
  // them in order) and calls it with them.
  auto call = [&]<class... A>(short (*handler)(Impl&, A...)) {
    va_list args;
    va_copy(args, ap);
    std::tuple<A...> values{nextArgument<A>(args)...};
    va_end(args);
    return std::apply([&](A... a) { return handler(h, a...); }, values);
  };
#define MORAVEL_DECODE(name, ...) \
  case request::k##name:          \
    return call(&on##name<U>);
  switch (code) {
    MORAVEL_HOST_REQUESTS(MORAVEL_DECODE, MORAVEL_DECODE)
    default:
      h.problem("unknown request " + std::to_string(code));
      return 0;
  }
#undef MORAVEL_DECODE
}
MORAVEL_FOR_BOTH_WIDTHS(decodeArguments)

void HostImpl::noteStaleHandle(int handle, int code) {
  log.staleHandles++;
  problem("request " + std::to_string(code) + " through handle " + std::to_string(handle) +
          " while the innermost message is at depth " + std::to_string(static_cast<int>(frames.size()) - 1));
}

}  // namespace moravel::detail
