// calls.cpp: sending messages, making function calls, and running what calculations and methods ask for.
#include <algorithm>

#include "doors.h"
#include "impl.h"
#include "mac_door.h"
#include "moravel/text.h"

namespace moravel {

using namespace detail;

Frame detail::HostImpl::sendFrame(int md, Frame frame) {
  if (frames.size() >= static_cast<std::size_t>(Host::kMaxDepth))
    throw HostError("plug-in calls nested more than " + std::to_string(Host::kMaxDepth) + " deep");
  if (frames.empty()) nestedCalls = 0;
  else if (nestedCallLimit >= 0 && ++nestedCalls > nestedCallLimit)
    throw HostError("more than " + std::to_string(nestedCallLimit) + " plug-in calls nested in one call");
  int depth = static_cast<int>(frames.size());
  frames.push_back(std::move(frame));
  log.maxDepth = std::max(log.maxDepth, depth + 1);
  HostImpl* previous = activate(this);
  if (form == Form::Mac)
    macEntry(static_cast<short>(md), &slot, macParamBlock(depth));
  else
    entry(static_cast<short>(md), &slot, nullptr, nullptr, nullptr, requestFunction(depth));
  activate(previous);
  Frame done = std::move(frames.back());
  frames.pop_back();
  return done;
}

CallResult detail::HostImpl::callFunction(int packageId, std::vector<Arg> args, int paramCount) {
  Frame f;
  f.message = kCall;
  f.isCall = true;
  f.packageId = packageId;
  f.paramCount = paramCount < 0 ? static_cast<int>(args.size()) : paramCount;
  f.params.reserve(std::max(args.size(), static_cast<std::size_t>(std::max(f.paramCount, 0))));
  for (auto& a : args) {
    Param p;
    if (a.isReference()) {
      Var* v = store.find(a.variable());
      if (!v) throw HostError("no variable " + encodeUtf8(a.variable()) + " to pass by reference");
      p.reference = v->slot;
    } else {
      p.own = a.release();
    }
    f.params.push_back(std::move(p));
  }
  args.clear();  // what was moved out is released before the call
  while (f.params.size() < static_cast<std::size_t>(f.paramCount)) f.params.emplace_back();
  Frame done = sendFrame(kCall, std::move(f));
  CallResult r;
  if (auto* v = std::get_if<Value>(&done.ret)) r.returnValue = std::move(*v);
  r.returnWrites = done.returnWrites;
  // A variable passed by reference is read where it is, not copied here.
  r.parameters.reserve(done.params.size());
  for (auto& p : done.params) r.parameters.push_back(p.reference ? Datum(Value()) : std::move(p.own));
  return r;
}

void detail::HostImpl::unanswered(Unanswered::Kind kind, detail::NameView text, std::string reason) {
  std::u32string name = text.str();
  if (kind != Unanswered::Kind::Name)
    log.calcFailures.push_back((kind == Unanswered::Kind::Method ? "method " : "") + encodeUtf8(name) + ": " + reason);
  if (unansweredListener) unansweredListener(Unanswered{kind, std::move(name), std::move(reason)});
}

void detail::HostImpl::runMethod(const std::u32string& name, int ref) {
  auto it = methods.find(name);
  if (it == methods.end()) {
    unanswered(Unanswered::Kind::Method, name, "no such method");
    return;
  }
  std::vector<std::u32string> body = it->second;  // the method may be redefined meanwhile
  std::optional<Value> last;
  for (const auto& line : body) {
    calc::Outcome o = calc::run(line, *this);
    if (!o.ok) {
      // A long line is named by its beginning.
      std::string shown = encodeUtf8(line.size() > 60 ? line.substr(0, 60) + U"..." : line);
      unanswered(Unanswered::Kind::Method, name, shown + ": " + o.error);
      return;
    }
    last = std::move(o.value);
  }
  if (last) writeField(ref, handedOut(std::move(*last)));
}

std::optional<Value> detail::HostImpl::variable(std::u32string_view name) {
  Var* v = store.find(name);
  if (!v) return std::nullopt;
  if (auto* val = std::get_if<Value>(&v->data)) return *val;
  return std::nullopt;
}

bool detail::HostImpl::hasVariable(std::u32string_view name) { return store.find(name) != nullptr; }

std::optional<Value> detail::HostImpl::callPlugin(int packageId, std::vector<calc::PluginArg> args) {
  std::vector<Arg> a;
  for (auto& p : args) a.push_back(p.byReference ? Arg::reference(p.variable) : Arg(p.value));
  try {
    return callFunction(packageId, std::move(a), -1).returnValue;
  } catch (const HostError& e) {
    // Reported as the failure of the calculation that made the call.
    throw calc::Error(e.what(), 0);
  }
}

}  // namespace moravel
