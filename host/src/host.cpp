// host.cpp: the host side of the plug-in interface.
#include "moravel/host.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <deque>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "library.h"
#include "mac_door.h"
#include "moravel/text.h"
#include "records.h"

namespace moravel {

namespace {

using namespace detail;

using Callback = short (*)(int code, ...);
using EntryFn = void (*)(short md, void** ref, void*, void*, void*, Callback callback);
using MacEntryFn = void (*)(short md, void** ref, void* paramBlock);
using SetAllocFailureFn = void (*)(long, int);
using CounterFn = long (*)(void);


// Fields of a call.
constexpr int kFldReturn = 200;
constexpr int kFldParamCount = 210;
constexpr int kFldParam1 = 211;
constexpr int kFldParamLast = 241;

// References the host hands out for variables and for list column names.
constexpr int kFirstVariableRef = 1000;
constexpr int kFirstColumnRef = 20000;
constexpr int kLastRef = 32767;

constexpr std::u32string_view kCinstName = U"$cinst().$name";

short forward(int handle, int code, va_list ap);

template <int I>
short trampoline(int code, ...) {
  va_list ap;
  va_start(ap, code);
  short r = forward(I, code, ap);
  va_end(ap);
  return r;
}

template <std::size_t... I>
constexpr std::array<Callback, sizeof...(I)> makeTrampolines(std::index_sequence<I...>) {
  return {&trampoline<static_cast<int>(I)>...};
}

// One request function per nesting depth: depth d (from 0) uses kHandles[d].
constexpr auto kHandles = makeTrampolines(std::make_index_sequence<Host::kMaxDepth>{});

void checkByteText(Width w, std::u32string_view t, const char* what) {
  if (w != Width::Byte) return;
  for (char32_t c : t)
    if (c > 0xFF)
      throw std::invalid_argument(std::string(what) + ": character above 0xFF for a one-byte plug-in");
}

}  // namespace

// The active host: the one whose message is in progress. The request
// functions carry no context, so this is process-wide; it lives here only.
namespace {
Host::Impl* gActive = nullptr;
long gOrphans = 0;
}  // namespace

struct Param {
  Datum own;
  std::optional<std::u32string> reference;
};

struct Frame {
  int message = 0;
  int packageId = 0;
  bool isCall = false;
  int paramCount = 0;
  std::vector<Param> params;
  Datum ret = Value();
  int returnWrites = 0;
};

struct Var {
  int ref = 0;
  Datum data;
};

struct Host::Impl final : calc::Context {
  std::string path;
  Width width;
  void* lib = nullptr;
  EntryFn entry = nullptr;
  Form form = Form::Windows;
  MacEntryFn macEntry = nullptr;
  SetAllocFailureFn setAllocFailure = nullptr;
  CounterFn liveBlocks = nullptr, allocations = nullptr, beeps = nullptr;

  void* slot = nullptr;
  bool loaded = false;
  std::map<std::u32string, Var, std::less<>> vars;
  std::unordered_map<int, std::u32string> varNames;
  std::map<std::u32string, int, std::less<>> columnRefs;
  std::unordered_map<int, std::u32string> columnNames;
  int nextVarRef = kFirstVariableRef;
  int nextColumnRef = kFirstColumnRef;
  std::map<std::u32string, std::vector<std::u32string>, std::less<>> methods;
  std::u32string instanceName;
  std::map<std::u32string, std::uintptr_t, std::less<>> atoms;
  bool refuseStores = false;
  std::optional<std::int32_t> reportedLength;
  std::vector<unsigned char> design;
  std::deque<Frame> frames;
  HostLog log;

  Impl(std::string p, Width w) : path(std::move(p)), width(w) {
    design.assign(designRecordSize(w == Width::Byte ? 1 : 4), 0);
    defineVar(U"#S1", Value());
    defineVar(U"#LN", Value::number(0));
  }

  // ---- variables ----
  Var& defineVar(std::u32string_view name, Datum d) {
    auto it = vars.find(name);
    if (it != vars.end()) {
      it->second.data = std::move(d);
      return it->second;
    }
    if (nextVarRef >= kFirstColumnRef) throw HostError("too many variables");
    Var v{nextVarRef++, std::move(d)};
    auto [pos, ok] = vars.emplace(std::u32string(name), std::move(v));
    varNames[pos->second.ref] = pos->first;
    return pos->second;
  }

  Var* findVar(std::u32string_view name) {
    auto it = vars.find(name);
    return it == vars.end() ? nullptr : &it->second;
  }

  Var* varByRef(int ref) {
    auto it = varNames.find(ref);
    return it == varNames.end() ? nullptr : findVar(it->second);
  }

  void problem(std::string what) { log.problems.push_back(std::move(what)); }

  Frame* callFrame() {
    if (frames.empty() || !frames.back().isCall) return nullptr;
    return &frames.back();
  }

  // The storage behind a field reference, or null.
  Datum* resolve(int ref) {
    if (ref == kFldReturn || (ref >= kFldParam1 && ref <= kFldParamLast)) {
      Frame* f = callFrame();
      if (!f) return nullptr;
      if (ref == kFldReturn) return &f->ret;
      std::size_t i = static_cast<std::size_t>(ref - kFldParam1);
      if (i >= f->params.size()) return nullptr;
      Param& p = f->params[i];
      if (!p.reference) return &p.own;
      Var* v = findVar(*p.reference);
      return v ? &v->data : nullptr;
    }
    Var* v = varByRef(ref);
    return v ? &v->data : nullptr;
  }

  // The value a field holds, in place (no copy), or null. Field 210's number
  // is kept in `paramCountValue` until the next read.
  Value paramCountValue;
  const Value* readField(int ref) {
    if (ref == kFldParamCount) {
      Frame* f = callFrame();
      if (f) {
        paramCountValue = Value::number(f->paramCount);
        return &paramCountValue;
      }
      problem("field 210 read outside a call");
      return nullptr;
    }
    Datum* d = resolve(ref);
    if (!d) {
      problem("read of unknown field " + std::to_string(ref));
      return nullptr;
    }
    if (auto* v = std::get_if<Value>(d)) return v;
    problem("field " + std::to_string(ref) + " is a list, read as a value");
    return nullptr;
  }

  bool writeField(int ref, Value v) {
    Datum* d = resolve(ref);
    if (!d) {
      problem("write to unknown field " + std::to_string(ref));
      return false;
    }
    if (std::holds_alternative<List>(*d)) {
      problem("field " + std::to_string(ref) + " is a list, written as a value");
      return false;
    }
    *d = std::move(v);
    if (ref == kFldReturn) callFrame()->returnWrites++;
    return true;
  }

  List* resolveList(int ref) {
    Datum* d = resolve(ref);
    return d ? std::get_if<List>(d) : nullptr;
  }

  int columnRefFor(std::u32string_view name) {
    auto it = columnRefs.find(name);
    if (it != columnRefs.end()) return it->second;
    if (nextColumnRef > kLastRef) return 0;
    int ref = nextColumnRef++;
    columnRefs.emplace(std::u32string(name), ref);
    columnNames[ref] = std::u32string(name);
    return ref;
  }

  bool isKnownColumn(std::u32string_view name) {
    auto known = [&](const Datum& d) {
      const List* l = std::get_if<List>(&d);
      return l && l->columnIndex(name) >= 0;
    };
    for (const auto& [n, v] : vars)
      if (known(v.data)) return true;
    for (const auto& f : frames)
      for (const auto& p : f.params)
        if (!p.reference && known(p.own)) return true;
    return false;
  }

  static constexpr int kLineCountColumn = -2;

  // Column index of `fldref` in `list`: a column reference, "#LN" (the line
  // count), or a parameter whose value is a column number (from 1) or name.
  int columnOf(const List& list, int fldref) {
    if (Var* ln = findVar(U"#LN"); ln && ln->ref == fldref) return kLineCountColumn;
    if (auto it = columnNames.find(fldref); it != columnNames.end()) return list.columnIndex(it->second);
    // A column that shares its name with a variable was handed out as the
    // variable's reference.
    if (auto it = varNames.find(fldref); it != varNames.end()) return list.columnIndex(it->second);
    if (fldref >= kFldParam1 && fldref <= kFldParamLast) {
      Datum* d = resolve(fldref);
      const Value* v = d ? std::get_if<Value>(d) : nullptr;
      if (!v) return -1;
      if (auto n = v->numeric()) {
        double k = std::trunc(*n);
        if (k >= 1 && k <= static_cast<double>(list.columns.size())) return static_cast<int>(k) - 1;
        return -1;
      }
      return list.columnIndex(v->asText());
    }
    return -1;
  }

  // ---- text in and out ----
  template <class U>
  U unit(char32_t c) {
    if constexpr (sizeof(U) == 1) {
      if (c > 0xFF) {
        problem("character above 0xFF sent to a one-byte plug-in");
        return static_cast<U>('?');
      }
    }
    return static_cast<U>(c);
  }

  template <class U>
  void putText(U* dst, std::u32string_view s, long maxlen) {
    if (!dst) {
      problem("text written to a null buffer");
      return;
    }
    std::size_t n = std::min<std::size_t>(s.size(), maxlen < 0 ? 0 : static_cast<std::size_t>(maxlen));
    // One pass converts and notes the highest bits seen; a one-byte plug-in
    // given a character above 0xFF gets the text again, unit by unit.
    if (convertUnits(dst, s.data(), n) > 0xFF && sizeof(U) == 1)
      for (std::size_t i = 0; i < n; ++i) dst[i] = unit<U>(s[i]);
    dst[n] = 0;
  }

  // Bulk conversion in fixed blocks, which the compiler turns into vector
  // code at the optimisation level of a release build.
  static constexpr std::size_t kBlock = 64;

  // Returns the bitwise or of the units read.
  template <class To, class From>
  static From convertUnits(To* __restrict out, const From* __restrict in, std::size_t n) {
    From bits = 0;
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock)
      for (std::size_t k = 0; k < kBlock; ++k) {
        out[i + k] = static_cast<To>(in[i + k]);
        bits |= in[i + k];
      }
    for (; i < n; ++i) {
      out[i] = static_cast<To>(in[i]);
      bits |= in[i];
    }
    return bits;
  }

  // The units before the terminating zero, through the C library's scan
  // where it has one for the unit size.
  template <class U>
  static std::size_t textLength(const U* src) {
    if constexpr (sizeof(U) == 1) {
      return std::strlen(reinterpret_cast<const char*>(src));
    } else if constexpr (sizeof(U) == sizeof(wchar_t)) {
      return std::wcslen(reinterpret_cast<const wchar_t*>(src));
    } else {
      std::size_t n = 0;
      while (src[n]) ++n;
      return n;
    }
  }

  template <class U>
  std::u32string getText(const U* src) {
    std::u32string s;
    if (!src) {
      problem("text read from a null pointer");
      return s;
    }
    fillText(s, src);
    return s;
  }

  // Replaces `s` with the zero-terminated text at `src`, converting once: a
  // text that fits reuses the storage, a longer one gets one new block (and
  // `s` is left as it was should that allocation fail).
  template <class U>
  static void fillText(std::u32string& s, const U* src) {
    std::size_t n = textLength(src);
    if (n > s.capacity()) {
      std::u32string fresh(n, char32_t{0});
      s.swap(fresh);
    } else {
      s.resize(n);
    }
    convertUnits(s.data(), src, n);
  }

  template <class U>
  std::u32string fromStr255(const Str255<U>* s) {
    if (!s) {
      problem("null counted string");
      return {};
    }
    std::size_t n = std::min<std::size_t>(s->length, 255);
    std::u32string out;
    for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<char32_t>(s->chars[i]));
    return out;
  }

  template <class U>
  void toStr255(Str255<U>* d, std::u32string_view s) {
    std::size_t n = std::min<std::size_t>(s.size(), 255);
    d->length = static_cast<decltype(d->length)>(n);
    for (std::size_t i = 0; i < n; ++i) d->chars[i] = unit<U>(s[i]);
    if (n < 255) d->chars[n] = 0;
  }

  template <class U>
  void deliver(const Value& v, int fmt, long maxlen, void* val, const char* what) {
    if (!val) {
      problem(std::string(what) + ": null value pointer");
      return;
    }
    switch (fmt) {
      case 0:
        *static_cast<double*>(val) = v.asNumber();
        break;
      case 2:
        if (const std::u32string* t = v.storedText()) putText(static_cast<U*>(val), *t, maxlen);
        else putText(static_cast<U*>(val), v.asText(), maxlen);
        break;
      case 4: {
        const std::u32string* t = v.storedText();
        std::size_t n = t ? t->size() : v.asText().size();
        *static_cast<std::int32_t*>(val) = reportedLength.value_or(static_cast<std::int32_t>(n));
        break;
      }
      default:
        problem(std::string(what) + ": unknown format " + std::to_string(fmt));
    }
  }

  template <class U>
  std::optional<Value> receive(int fmt, const void* val, const char* what) {
    if (!val) {
      problem(std::string(what) + ": null value pointer");
      return std::nullopt;
    }
    if (fmt == 0) return Value::number(*static_cast<const double*>(val));
    if (fmt == 2) return Value::text(getText(static_cast<const U*>(val)));
    problem(std::string(what) + ": unknown format " + std::to_string(fmt));
    return std::nullopt;
  }

  // SetFldVal: a text written to a field that holds a text is converted
  // straight into the field's storage; anything else goes through receive
  // and writeField, with the same outcome.
  template <class U>
  void receiveInto(int ref, int fmt, const void* val, const char* what) {
    if (val && fmt == 2) {
      Datum* d = resolve(ref);
      Value* target = d ? std::get_if<Value>(d) : nullptr;
      if (std::u32string* t = target ? target->storedText() : nullptr) {
        fillText(*t, static_cast<const U*>(val));
        if (ref == kFldReturn) callFrame()->returnWrites++;
        return;
      }
    }
    if (auto v = receive<U>(fmt, val, what)) writeField(ref, std::move(*v));
  }

  // ---- messages ----
  Frame sendFrame(int md, Frame frame) {
    if (frames.size() >= static_cast<std::size_t>(kMaxDepth))
      throw HostError("plug-in calls nested more than " + std::to_string(kMaxDepth) + " deep");
    Callback handle = kHandles[frames.size()];
    frames.push_back(std::move(frame));
    log.maxDepth = std::max(log.maxDepth, static_cast<int>(frames.size()));
    Impl* previous = gActive;
    gActive = this;
    if (form == Form::Mac)
      macEntry(static_cast<short>(md), &slot, detail::macParamBlock(static_cast<int>(frames.size()) - 1));
    else
      entry(static_cast<short>(md), &slot, nullptr, nullptr, nullptr, handle);
    gActive = previous;
    Frame done = std::move(frames.back());
    frames.pop_back();
    return done;
  }

  CallResult callFunction(int packageId, std::vector<Arg> args, int paramCount) {
    Frame f;
    f.message = kCall;
    f.isCall = true;
    f.packageId = packageId;
    f.paramCount = paramCount < 0 ? static_cast<int>(args.size()) : paramCount;
    for (auto& a : args) {
      Param p;
      if (a.isReference()) {
        if (!findVar(a.variable()))
          throw HostError("no variable " + encodeUtf8(a.variable()) + " to pass by reference");
        p.reference = a.variable();
      } else {
        p.own = a.release();
      }
      f.params.push_back(std::move(p));
    }
    while (f.params.size() < static_cast<std::size_t>(f.paramCount)) f.params.emplace_back();
    Frame done = sendFrame(kCall, std::move(f));
    CallResult r;
    if (auto* v = std::get_if<Value>(&done.ret)) r.returnValue = *v;
    r.returnWrites = done.returnWrites;
    // A variable passed by reference is read where it is, not copied here.
    for (auto& p : done.params) r.parameters.push_back(p.reference ? Datum(Value()) : std::move(p.own));
    return r;
  }

  // ---- calc::Context ----
  std::optional<Value> variable(std::u32string_view name) override {
    Var* v = findVar(name);
    if (!v) return std::nullopt;
    if (auto* val = std::get_if<Value>(&v->data)) return *val;
    return std::nullopt;
  }

  bool hasVariable(std::u32string_view name) override { return findVar(name) != nullptr; }

  std::optional<Value> callPlugin(int packageId, std::vector<calc::PluginArg> args) override {
    std::vector<Arg> a;
    for (auto& p : args) a.push_back(p.byReference ? Arg::reference(p.variable) : Arg(p.value));
    try {
      return callFunction(packageId, std::move(a), -1).returnValue;
    } catch (const HostError& e) {
      log.calcFailures.push_back(e.what());
      return std::nullopt;
    }
  }

  // ---- requests ----
  short dispatch(int handle, int code, va_list ap) {
    log.requests[code]++;
    if (frames.empty() || handle != static_cast<int>(frames.size()) - 1) {
      log.staleHandles++;
      problem("request " + std::to_string(code) + " through handle " + std::to_string(handle) +
              " while the innermost message is at depth " + std::to_string(static_cast<int>(frames.size()) - 1));
    }
    try {
      return width == Width::Byte ? handle_<std::uint8_t>(code, ap) : handle_<std::uint32_t>(code, ap);
    } catch (const std::exception& e) {
      problem(std::string("request ") + std::to_string(code) + " failed: " + e.what());
    } catch (...) {
      problem("request " + std::to_string(code) + " failed");
    }
    return 0;
  }

  template <class U>
  short handle_(int code, va_list ap) {
    switch (code) {
      case kGetFldRef: {
        auto* name = va_arg(ap, Str255<U>*);
        std::u32string n = fromStr255(name);
        log.fieldRefNames.push_back(n);
        int ref = 0;
        if (Var* v = findVar(n)) ref = v->ref;
        else if (!n.empty() && isKnownColumn(n)) ref = columnRefFor(n);
        if (ref) log.outstandingRefs[ref]++;
        return static_cast<short>(ref);
      }
      case kGetFldInt: {
        int ref = va_arg(ap, int);
        auto* out = va_arg(ap, double*);
        const Value* v = readField(ref);
        if (out) *out = v ? v->asNumber() : 0.0;
        return 0;
      }
      case kSetFldVal: {
        int ref = va_arg(ap, int);
        int fmt = va_arg(ap, int);
        void* val = va_arg(ap, void*);
        receiveInto<U>(ref, fmt, val, "SetFldVal");
        return 0;
      }
      case kSetFldInt: {
        int ref = va_arg(ap, int);
        auto* val = va_arg(ap, double*);
        if (auto v = receive<U>(0, val, "SetFldInt")) writeField(ref, std::move(*v));
        return 0;
      }
      case kShowMessage: {
        (void)va_arg(ap, int);  // message type
        (void)va_arg(ap, int);  // high
        (void)va_arg(ap, int);  // large
        (void)va_arg(ap, int);  // bell
        auto* text = va_arg(ap, Str255<U>*);
        log.shownMessages.push_back(fromStr255(text));
        return 1;
      }
      case kGetFldVal: {
        int ref = va_arg(ap, int);
        int fmt = va_arg(ap, int);
        int maxlen = va_arg(ap, int);
        void* val = va_arg(ap, void*);
        static const Value kNone;
        const Value* v = readField(ref);
        deliver<U>(v ? *v : kNone, fmt, maxlen, val, "GetFldVal");  // both lvalues: no copy
        return 0;
      }
      case kGetLstVal: {
        int listno = va_arg(ap, int);
        int fldref = va_arg(ap, int);
        int fmt = va_arg(ap, int);
        void* val = va_arg(ap, void*);
        auto* lm = va_arg(ap, LineAndMax*);
        if (!lm) {
          problem("GetLstVal without line and limit");
          return 0;
        }
        deliver<U>(listCell(listno, lm->lineno, fldref, "GetLstVal"), fmt, lm->maxlen, val, "GetLstVal");
        return 0;
      }
      case kGetLstInt: {
        int listno = va_arg(ap, int);
        int lineno = va_arg(ap, int);
        int fldref = va_arg(ap, int);
        auto* out = va_arg(ap, double*);
        Value v = listCell(listno, lineno, fldref, "GetLstInt");
        if (out) *out = v.asNumber();
        return 0;
      }
      case kSetLstVal: {
        int listno = va_arg(ap, int);
        int lineno = va_arg(ap, int);
        int fldref = va_arg(ap, int);
        int fmt = va_arg(ap, int);
        void* val = va_arg(ap, void*);
        auto v = receive<U>(fmt, val, "SetLstVal");
        List* l = resolveList(listno);
        if (!l) {
          problem("SetLstVal: field " + std::to_string(listno) + " is not a list");
          return 0;
        }
        int col = columnOf(*l, fldref);
        if (col < 0) {
          problem("SetLstVal: no column for reference " + std::to_string(fldref));
          return 0;
        }
        if (lineno < 1 || static_cast<std::size_t>(lineno) > l->rows.size()) {
          problem("SetLstVal: no line " + std::to_string(lineno));
          return 0;
        }
        auto& row = l->rows[static_cast<std::size_t>(lineno) - 1];
        if (row.size() <= static_cast<std::size_t>(col)) row.resize(static_cast<std::size_t>(col) + 1);
        if (v) row[static_cast<std::size_t>(col)] = std::move(*v);
        return 0;
      }
      case kDoListOp: {
        int lop = va_arg(ap, int);
        int listno = va_arg(ap, int);
        int lineno = va_arg(ap, int);
        List* l = resolveList(listno);
        if (!l) {
          problem("DoListOp: field " + std::to_string(listno) + " is not a list");
          return 0;
        }
        if (lop != 1) {
          problem("DoListOp: unknown operation " + std::to_string(lop));
          return 0;
        }
        if (lineno < 1) {
          problem("DoListOp: line " + std::to_string(lineno));
          return 0;
        }
        while (l->rows.size() < static_cast<std::size_t>(lineno))
          l->rows.emplace_back(l->columns.size(), Value());
        return 1;
      }
      case kEvalCalcString: {
        auto* calcText = va_arg(ap, Str255<U>*);
        int ref = va_arg(ap, int);
        std::u32string text = fromStr255(calcText);
        log.calcTexts.push_back(text);
        calc::Outcome o = calc::run(text, *this);
        if (!o.ok) {
          log.calcFailures.push_back(encodeUtf8(text) + ": " + o.error);
          return 0;
        }
        writeField(ref, std::move(o.value));
        return 1;
      }
      case kGetFldInfo: {
        auto* rec = va_arg(ap, ExtInfoRec<U>*);
        if (!rec) {
          problem("GetFldInfo without a record");
          return 0;
        }
        std::optional<std::u32string> name = fieldName(rec->ref);
        if (name) {
          toStr255(&rec->name, *name);
          rec->returncode = 1;
        } else {
          rec->returncode = 0;
        }
        return rec->returncode;
      }
      case kExtensionInfo: {
        auto* rec = va_arg(ap, ExtInfoRec<U>*);
        if (!rec) {
          problem("ExtensionInfo without a record");
          return 0;
        }
        std::u32string name = fromStr255(&rec->name);
        short rc = 0;
        switch (rec->info_request) {
          case 3:
            if (!refuseStores) {
              atoms[name] = rec->params;
              rc = 1;
            }
            break;
          case 1:
            if (auto it = atoms.find(name); it != atoms.end()) {
              rec->params = it->second;
              rc = 1;
            } else {
              rec->params = 0;
            }
            break;
          case 4:
            rc = atoms.erase(name) ? 1 : 0;
            break;
          default:
            problem("ExtensionInfo: unknown request " + std::to_string(rec->info_request));
        }
        rec->returncode = rc;
        return rc;
      }
      case kGetPackageId: {
        auto* out = va_arg(ap, std::int32_t*);
        if (out) *out = frames.empty() ? 0 : frames.back().packageId;
        return 0;
      }
      case kGetDesignPtr: {
        auto* out = va_arg(ap, void**);
        if (out) *out = design.data();
        return 0;
      }
      case kGetListDef: {
        int ref = va_arg(ap, int);
        int len = va_arg(ap, int);
        U* def = va_arg(ap, U*);
        std::u32string joined;
        if (List* l = resolveList(ref)) {
          for (std::size_t i = 0; i < l->columns.size(); ++i) {
            if (i) joined.push_back(U',');
            joined += l->columns[i];
          }
        } else {
          problem("GetListDef: field " + std::to_string(ref) + " is not a list");
        }
        putText(def, joined, len);
        return 0;
      }
      case kCallProcedure: {
        auto* nameStr = va_arg(ap, Str255<U>*);
        int ref = va_arg(ap, int);
        std::u32string name = fromStr255(nameStr);
        log.procedureNames.push_back(name);
        runMethod(name, ref);
        return 0;
      }
      case kPurgeFldRef: {
        int ref = va_arg(ap, int);
        log.purgedRefs.push_back(ref);
        auto it = log.outstandingRefs.find(ref);
        if (it == log.outstandingRefs.end() || it->second == 0) {
          problem("PurgeFldRef of reference " + std::to_string(ref) + " that is not handed out");
        } else if (--it->second == 0) {
          log.outstandingRefs.erase(it);
        }
        return 0;
      }
      case kGetNamedVal: {
        (void)va_arg(ap, int);  // fldref, unused
        int fmt = va_arg(ap, int);
        int maxlen = va_arg(ap, int);
        auto* xv = va_arg(ap, XFldValue<U>*);
        if (!xv) {
          problem("GetNamedVal without a value record");
          return 0;
        }
        std::u32string name = fromStr255(xv->name);
        log.namedValueNames.push_back(name);
        Value v;
        const Value* found = &v;
        if (name == kCinstName) v = Value::text(instanceName);
        else if (Var* var = findVar(name); var && std::holds_alternative<Value>(var->data))
          found = &std::get<Value>(var->data);
        deliver<U>(*found, fmt, maxlen, xv->val, "GetNamedVal");
        return 0;
      }
      case kGetFldInfo2: {
        auto* fi = va_arg(ap, FldInfoRec<U>*);
        if (!fi) {
          problem("GetFldInfo2 without a record");
          return 1;
        }
        std::optional<std::u32string> name = fieldName(fi->ref);
        if (!name) return 1;
        toStr255(&fi->name, *name);
        return 0;
      }
      default:
        problem("unknown request " + std::to_string(code));
        return 0;
    }
  }

  // The name a field reference stands for: a variable's name, the variable a
  // parameter refers to, or the empty name for a parameter passed by value
  // and for the return value. nullopt for an unknown reference.
  std::optional<std::u32string> fieldName(int ref) {
    if (ref >= kFldParam1 && ref <= kFldParamLast) {
      Frame* f = callFrame();
      std::size_t i = static_cast<std::size_t>(ref - kFldParam1);
      if (!f || i >= f->params.size()) return std::nullopt;
      const Param& p = f->params[i];
      return p.reference ? *p.reference : std::u32string();
    }
    if (ref == kFldReturn) {
      if (!callFrame()) return std::nullopt;
      return std::u32string();
    }
    if (auto it = varNames.find(ref); it != varNames.end()) return it->second;
    return std::nullopt;
  }

  Value listCell(int listno, int lineno, int fldref, const char* what) {
    List* l = resolveList(listno);
    if (!l) {
      problem(std::string(what) + ": field " + std::to_string(listno) + " is not a list");
      return Value();
    }
    int col = columnOf(*l, fldref);
    if (col == kLineCountColumn) return Value::number(static_cast<double>(l->rows.size()));
    if (col < 0) {
      problem(std::string(what) + ": no column for reference " + std::to_string(fldref));
      return Value();
    }
    if (lineno < 1 || static_cast<std::size_t>(lineno) > l->rows.size()) {
      problem(std::string(what) + ": no line " + std::to_string(lineno));
      return Value();
    }
    return l->cell(static_cast<std::size_t>(lineno), static_cast<std::size_t>(col));
  }

  void runMethod(const std::u32string& name, int ref) {
    auto it = methods.find(name);
    if (it == methods.end()) {
      log.calcFailures.push_back("no method " + encodeUtf8(name));
      return;
    }
    std::vector<std::u32string> body = it->second;  // the method may be redefined meanwhile
    std::optional<Value> last;
    for (const auto& line : body) {
      calc::Outcome o = calc::run(line, *this);
      if (!o.ok) {
        log.calcFailures.push_back("method " + encodeUtf8(name) + ": " + encodeUtf8(line) + ": " + o.error);
        return;
      }
      last = std::move(o.value);
    }
    if (last) writeField(ref, std::move(*last));
  }
};

namespace {

short forward(int handle, int code, va_list ap) {
  if (!gActive) {
    ++gOrphans;
    return 0;
  }
  return gActive->dispatch(handle, code, ap);
}

}  // namespace

short detail::forwardRequest(int handle, int code, va_list ap) { return forward(handle, code, ap); }

// ---- Host ----

Host::Host(const std::string& libraryPath, Width width) : Host(libraryPath, width, Form::Windows) {}

Host::Host(const std::string& libraryPath, Width width, Form form)
    : impl_(std::make_unique<Impl>(libraryPath, width)) {
  if (form == Form::Mac && width != Width::Unicode) throw HostError("a Mac-form plug-in is a Unicode build");
  impl_->form = form;
  std::string err;
  impl_->lib = openLibrary(libraryPath, err);
  if (!impl_->lib) throw HostError("cannot load " + libraryPath + ": " + err);
  const char* entryName = form == Form::Mac ? "main" : "Moravel";
  void* entry = librarySymbol(impl_->lib, entryName);
  if (!entry) {
    closeLibrary(impl_->lib);
    throw HostError(libraryPath + " has no entry point " + entryName);
  }
  impl_->entry = reinterpret_cast<EntryFn>(entry);
  impl_->macEntry = reinterpret_cast<MacEntryFn>(entry);
  impl_->setAllocFailure =
      reinterpret_cast<SetAllocFailureFn>(librarySymbol(impl_->lib, "MoravelTestSetAllocFailure"));
  impl_->liveBlocks = reinterpret_cast<CounterFn>(librarySymbol(impl_->lib, "MoravelTestLiveBlocks"));
  impl_->allocations = reinterpret_cast<CounterFn>(librarySymbol(impl_->lib, "MoravelTestAllocations"));
  impl_->beeps = reinterpret_cast<CounterFn>(librarySymbol(impl_->lib, "MoravelTestBeeps"));
}

Host::~Host() {
  if (impl_->loaded && impl_->frames.empty()) {
    try {
      unload();
    } catch (...) {
    }
  }
  if (impl_->lib) closeLibrary(impl_->lib);
}

Width Host::width() const { return impl_->width; }
Form Host::form() const { return impl_->form; }
const std::string& Host::libraryPath() const { return impl_->path; }

void Host::send(int message) {
  Frame f;
  f.message = message;
  impl_->sendFrame(message, std::move(f));
}

void Host::load() {
  send(kLoad);
  impl_->loaded = true;
}

void Host::unload() {
  send(kUnload);
  impl_->loaded = false;
}

void* Host::slot() const { return impl_->slot; }
void Host::setSlot(void* value) { impl_->slot = value; }
bool Host::loaded() const { return impl_->loaded; }

DesignAnswer Host::describe(int packageId, int qfldid) {
  auto& d = impl_->design;
  std::fill(d.begin(), d.end(), 0);
  auto q = static_cast<std::int16_t>(qfldid);
  std::memcpy(&d[kDesignQfldid], &q, 2);
  d[kDesignUseDefault] = 1;
  std::vector<unsigned char> before = d;
  Frame f;
  f.message = kDesignInfo;
  f.packageId = packageId;
  impl_->sendFrame(kDesignInfo, std::move(f));
  DesignAnswer a;
  a.changed = d != before;
  a.useDefault = d[kDesignUseDefault];
  if (width() == Width::Byte) {
    std::size_t n = std::min<std::size_t>(d[kDesignLabel], 255);
    for (std::size_t i = 0; i < n; ++i) a.label.push_back(d[kDesignLabel + 1 + i]);
  } else {
    std::uint32_t n;
    std::memcpy(&n, &d[kDesignLabel], 4);
    n = std::min<std::uint32_t>(n, 255);
    for (std::size_t i = 0; i < n; ++i) {
      std::uint32_t c;
      std::memcpy(&c, &d[kDesignLabel + 4 + 4 * i], 4);
      a.label.push_back(c);
    }
  }
  return a;
}

int Host::setupInfo() {
  auto& d = impl_->design;
  std::fill(d.begin(), d.end(), 0);
  send(kSetupInfo);
  std::int16_t v;
  std::memcpy(&v, &d[kSetupFlag], 2);
  return v;
}

std::vector<unsigned char> Host::designRecord() const { return impl_->design; }

void Host::set(std::u32string_view name, Value value) {
  checkByteText(width(), name, "variable name");
  if (const std::u32string* t = value.storedText()) checkByteText(width(), *t, "variable value");
  impl_->defineVar(name, std::move(value));
}

void Host::setList(std::u32string_view name, List list) {
  checkByteText(width(), name, "variable name");
  for (const auto& c : list.columns) checkByteText(width(), c, "column name");
  for (const auto& row : list.rows)
    for (const auto& cell : row)
      if (const std::u32string* t = cell.storedText()) checkByteText(width(), *t, "list cell");
  impl_->defineVar(name, std::move(list));
}

bool Host::has(std::u32string_view name) const { return impl_->findVar(name) != nullptr; }

void Host::remove(std::u32string_view name) {
  auto it = impl_->vars.find(name);
  if (it == impl_->vars.end()) return;
  impl_->varNames.erase(it->second.ref);
  impl_->vars.erase(it);
}

std::optional<Value> Host::value(std::u32string_view name) const { return impl_->variable(name); }

std::optional<List> Host::list(std::u32string_view name) const {
  Var* v = impl_->findVar(name);
  if (!v) return std::nullopt;
  if (auto* l = std::get_if<List>(&v->data)) return *l;
  return std::nullopt;
}

std::u32string Host::text(std::u32string_view name) const {
  auto v = value(name);
  return v ? v->asText() : std::u32string();
}

int Host::refOf(std::u32string_view name) const {
  Var* v = impl_->findVar(name);
  return v ? v->ref : 0;
}

void Host::defineMethod(std::u32string name, std::vector<std::u32string> body) {
  checkByteText(width(), name, "method name");
  for (const auto& line : body) checkByteText(width(), line, "method body");
  impl_->methods[std::move(name)] = std::move(body);
}

void Host::removeMethod(std::u32string_view name) {
  auto it = impl_->methods.find(name);
  if (it != impl_->methods.end()) impl_->methods.erase(it);
}

void Host::setInstanceName(std::u32string name) {
  checkByteText(width(), name, "instance name");
  impl_->instanceName = std::move(name);
}

CallResult Host::call(int packageId, std::vector<Arg> args, int paramCount) {
  for (const auto& a : args) {
    if (a.isReference()) continue;
    if (auto* v = std::get_if<Value>(&a.datum())) {
      if (const std::u32string* t = v->storedText()) checkByteText(width(), *t, "argument");
    } else {
      const List& l = std::get<List>(a.datum());
      for (const auto& c : l.columns) checkByteText(width(), c, "column name");
      for (const auto& row : l.rows)
        for (const auto& cell : row)
          if (const std::u32string* t = cell.storedText()) checkByteText(width(), *t, "list cell");
    }
  }
  return impl_->callFunction(packageId, std::move(args), paramCount);
}

CallResult Host::call(std::u32string_view function, std::vector<Arg> args, int paramCount) {
  int id = calc::packageIdOf(function);
  if (!id) throw HostError("no plug-in function " + encodeUtf8(function));
  return call(id, std::move(args), paramCount);
}

calc::Outcome Host::evaluate(std::u32string_view calculation) { return calc::run(calculation, *impl_); }

void Host::refuseAtomStores(bool refuse) { impl_->refuseStores = refuse; }
void Host::misreportLengths(std::optional<std::int32_t> length) { impl_->reportedLength = length; }

std::optional<std::uintptr_t> Host::atom(std::u32string_view name) const {
  auto it = impl_->atoms.find(name);
  if (it == impl_->atoms.end()) return std::nullopt;
  return it->second;
}

std::size_t Host::atomCount() const { return impl_->atoms.size(); }

const HostLog& Host::log() const { return impl_->log; }

void Host::clearLog() {
  auto outstanding = std::move(impl_->log.outstandingRefs);
  impl_->log = HostLog();
  impl_->log.outstandingRefs = std::move(outstanding);
}

int Host::depth() const { return static_cast<int>(impl_->frames.size()); }

long Host::orphanRequests() { return gOrphans; }

void* Host::testSymbol(const char* name) const { return librarySymbol(impl_->lib, name); }

bool Host::hasTestHooks() const {
  return impl_->setAllocFailure && impl_->liveBlocks && impl_->allocations && impl_->beeps;
}

namespace {
void requireHook(bool present) {
  if (!present) throw HostError("the plug-in is not a test build");
}
}  // namespace

void Host::setAllocFailure(long nth, bool persistent) {
  requireHook(impl_->setAllocFailure != nullptr);
  impl_->setAllocFailure(nth, persistent ? 1 : 0);
}

long Host::liveBlocks() const {
  requireHook(impl_->liveBlocks != nullptr);
  return impl_->liveBlocks();
}

long Host::allocations() const {
  requireHook(impl_->allocations != nullptr);
  return impl_->allocations();
}

long Host::beeps() const {
  requireHook(impl_->beeps != nullptr);
  return impl_->beeps();
}

}  // namespace moravel
