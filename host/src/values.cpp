// values.cpp: field and named-value requests, and values moved between the host and the plug-in's units.
#include <algorithm>

#include "moravel/text.h"
#include "requests.h"
#include "units.h"

namespace moravel::detail {

namespace {

constexpr std::u32string_view kCinstName = U"$cinst().$name";

const Value kNone;

template <class U>
void putText(Impl& h, U* dst, const Text& t, long maxlen) {
  if (!dst) {
    h.problem("text written to a null buffer");
    return;
  }
  std::size_t n = std::min<std::size_t>(t.size(), maxlen < 0 ? 0 : static_cast<std::size_t>(maxlen));
  for (std::size_t lost = copyUnits(t, n, dst); lost > 0; --lost)
    h.problem("character above 0xFF sent to a one-byte plug-in");
  dst[n] = 0;
}

}  // namespace

template <class U>
void deliver(Impl& h, const Value& v, int fmt, long maxlen, void* val, const char* what) {
  if (!val) {
    h.problem(std::string(what) + ": null value pointer");
    return;
  }
  const Text* t = v.storedText();
  switch (fmt) {
    case request::kFmtNumber:
      *static_cast<double*>(val) = v.asNumber();
      break;
    case request::kFmtText:
      // A number's digits are ASCII, one byte a character.
      if (t) putText(h, static_cast<U*>(val), *t, maxlen);
      else putText(h, static_cast<U*>(val), Text::fromBytes(formatNumber(v.asNumber())), maxlen);
      break;
    case request::kFmtLength: {
      std::size_t n = t ? t->size() : formatNumber(v.asNumber()).size();
      *static_cast<std::int32_t*>(val) = h.reportedLength.value_or(static_cast<std::int32_t>(n));
      break;
    }
    default:
      h.problem(std::string(what) + ": unknown format " + std::to_string(fmt));
  }
}

template <class U>
std::optional<Value> receive(Impl& h, int fmt, const void* val, const char* what) {
  if (!val) {
    h.problem(std::string(what) + ": null value pointer");
    return std::nullopt;
  }
  if (fmt == request::kFmtNumber) return Value::number(*static_cast<const double*>(val));
  if (fmt == request::kFmtText) {
    Text t;
    assignTerminated(t, static_cast<const U*>(val));
    return Value::text(std::move(t));
  }
  h.problem(std::string(what) + ": unknown format " + std::to_string(fmt));
  return std::nullopt;
}

template <class U>
NameView sentName(Impl& h, const Str255<U>* s) {
  if (s) return counted(*s);
  h.problem("null counted string");
  return NameView();
}

template <class U>
void putName(Impl& h, Str255<U>& d, const std::u32string& name) {
  for (std::size_t lost = putCounted(d, name); lost > 0; --lost)
    h.problem("character above 0xFF sent to a one-byte plug-in");
}

template <class U>
short onGetFldRef(Impl& h, const Str255<U>* nameStr) {
  NameView name = sentName(h, nameStr);
  h.noteText(h.log.fieldRefNames, name);
  int ref = 0;
  if (Var* v = h.store.find(name)) {
    ref = h.store.refFor(*v);
  } else if (name.size > 0) {
    std::u32string n = name.str();
    if (h.isKnownColumn(n)) ref = h.store.columnRef(n);
  }
  if (ref) h.log.outstandingRefs[ref]++;
  return static_cast<short>(ref);
}

namespace {

// Whether field `ref` stands for the variable called `name`.
bool refersTo(Impl& h, int ref, const std::u32string& name) {
  Var* v = h.store.find(name);
  return v && h.resolve(ref) == &v->data;
}

// A read of the variable whose text comes from the host's source.
template <class U>
bool readFromSource(Impl& h, int ref, int fmt, int maxlen, void* val) {
  if (sizeof(U) != 4 || !h.textSource || !val || (fmt != request::kFmtText && fmt != request::kFmtLength)) return false;
  if (!refersTo(h, ref, h.sourceName)) return false;
  if (fmt == request::kFmtLength) {
    *static_cast<std::int32_t*>(val) = h.reportedLength.value_or(static_cast<std::int32_t>(h.sourceLength));
    return true;
  }
  std::size_t n = std::min<std::size_t>(h.sourceLength, maxlen < 0 ? 0 : static_cast<std::size_t>(maxlen));
  auto* out = static_cast<char32_t*>(val);
  h.textSource(out, n);
  out[n] = 0;
  return true;
}

}  // namespace

template <class U>
short onGetFldVal(Impl& h, int ref, int fmt, int maxlen, void* val) {
  if (readFromSource<U>(h, ref, fmt, maxlen, val)) return 0;
  const Value* v = h.readField(ref);
  deliver<U>(h, v ? *v : kNone, fmt, maxlen, val, "GetFldVal");
  return 0;
}

// A text written to a field that holds a text is converted straight into the
// field's storage; anything else goes through receive and writeField, with
// the same outcome.
template <class U>
short onSetFldVal(Impl& h, int ref, int fmt, const void* val) {
  if (val && fmt == request::kFmtText) {
    if (h.textSink && refersTo(h, ref, h.sinkName)) {
      streamTerminated(static_cast<const U*>(val), [&](const U* units, std::size_t n) { h.textSink(units, n); });
      return 0;
    }
    Datum* d = h.resolve(ref);
    Value* target = d ? std::get_if<Value>(d) : nullptr;
    if (Text* t = target ? target->storedText() : nullptr) {
      assignTerminated(*t, static_cast<const U*>(val));
      h.countReturnWrite(ref);
      return 0;
    }
  }
  if (auto v = receive<U>(h, fmt, val, "SetFldVal")) h.writeField(ref, std::move(*v));
  return 0;
}

// The value a name stands for: the instance's name, a variable's value, or
// the empty text for a name the host does not know (or a list).
template <class U>
short onGetNamedVal(Impl& h, int /*fldref: the value is found by its name*/, int fmt, int maxlen, XFldValue<U>* xv) {
  if (!xv) {
    h.problem("GetNamedVal without a value record");
    return 0;
  }
  NameView name = sentName(h, xv->name);
  h.noteText(h.log.namedValueNames, name);
  const Value* found = &kNone;
  if (name.is(kCinstName)) {
    found = &h.instanceName;
  } else if (Var* var = h.store.find(name)) {
    if (const Value* v = std::get_if<Value>(&var->data)) found = v;
    else h.unanswered(Unanswered::Kind::Name, name, "it holds a list, not a value");
  } else {
    h.unanswered(Unanswered::Kind::Name, name, "no such variable");
  }
  std::optional<Value> escaped;
  if (h.escapeHtml && found != &h.instanceName && (escaped = htmlEscaped(*found))) found = &*escaped;
  deliver<U>(h, *found, fmt, maxlen, xv->val, "GetNamedVal");
  return 0;
}

template <class U>
short onGetFldInt(Impl& h, int ref, double* out) {
  const Value* v = h.readField(ref);
  if (out) *out = v ? v->asNumber() : 0.0;
  return 0;
}

template <class U>
short onSetFldInt(Impl& h, int ref, const double* val) {
  if (auto v = receive<std::uint8_t>(h, request::kFmtNumber, val, "SetFldInt")) h.writeField(ref, std::move(*v));
  return 0;
}

template <class U>
short onPurgeFldRef(Impl& h, int ref) {
  h.log.purgedRefs.push_back(ref);
  auto it = h.log.outstandingRefs.find(ref);
  if (it == h.log.outstandingRefs.end() || it->second == 0) {
    h.problem("PurgeFldRef of reference " + std::to_string(ref) + " that is not handed out");
  } else if (--it->second == 0) {
    h.log.outstandingRefs.erase(it);
  }
  return 0;
}

MORAVEL_FOR_BOTH_WIDTHS(deliver)
MORAVEL_FOR_BOTH_WIDTHS(receive)
MORAVEL_FOR_BOTH_WIDTHS(sentName)
MORAVEL_FOR_BOTH_WIDTHS(putName)
MORAVEL_FOR_BOTH_WIDTHS(onGetFldRef)
MORAVEL_FOR_BOTH_WIDTHS(onGetFldVal)
MORAVEL_FOR_BOTH_WIDTHS(onSetFldVal)
MORAVEL_FOR_BOTH_WIDTHS(onGetNamedVal)
MORAVEL_FOR_BOTH_WIDTHS(onGetFldInt)
MORAVEL_FOR_BOTH_WIDTHS(onSetFldInt)
MORAVEL_FOR_BOTH_WIDTHS(onPurgeFldRef)

}  // namespace moravel::detail
