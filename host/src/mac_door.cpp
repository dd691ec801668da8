// mac_door.cpp: the parameter block of entry points through which a Mac-form
// plug-in reaches the host. Each entry converts what differs at this door
// (numbers cross it as 80-bit extended values, information records in their
// Mac layout) and calls the request's handler, the one the request-function
// door calls, so both doors lead to the same variables, lists, calculations
// and methods.
#include "mac_door.h"

#include <array>
#include <cstdint>

#include "doors.h"
#include "moravel/extended80.h"
#include "moravel/host.h"
#include "requests.h"

namespace moravel::detail {

namespace {

using U = std::uint32_t;

using namespace request;

// The table here holds pointer-sized entries in the order of the host
// interface's table of 4-byte slots, so the entry at byte offset k is slot
// k / 4.
constexpr int kSlots = kAtGetFldInfo2 / 4 + 1;

using Entry = void (*)();
struct ParamBlock {
  Entry entries[kSlots];
};

#pragma pack(push, 2)

// An 80-bit extended number (moravel/extended80.h).
struct Extended80 {
  std::int16_t exp;
  std::uint16_t man[4];
};

// The information record in its Mac layout: 8-byte rectangles.
using MacExtInfoRec = ExtInfoRec<U, MacRect>;

#pragma pack(pop)

static_assert(sizeof(Extended80) == 10);
static_assert(offsetof(MacExtInfoRec, params) == 1040);
static_assert(offsetof(MacExtInfoRec, static_rect) == 1040 + sizeof(std::uintptr_t) + 4);
static_assert(offsetof(MacExtInfoRec, returncode) == offsetof(MacExtInfoRec, xwin) + 4);

std::array<ParamBlock, Host::kMaxDepth> gBlocks;

int depthOf(const ParamBlock* pb) {
  for (std::size_t i = 0; i < gBlocks.size(); ++i)
    if (pb == &gBlocks[i]) return static_cast<int>(i);
  return -1;
}

// Answers request `code` of the Mac door with answerIt(host), by the host
// whose message is in progress, as the request-function door does.
template <class F>
short answerFrom(const ParamBlock* pb, int code, F&& answerIt) {
  HostImpl* h = hostForRequest();
  return h ? h->keepBooks(depthOf(pb), code, answerIt) : 0;
}

// A value the plug-in sends in format `fmt`, as the handler takes it: a
// number's 80-bit value as a double, anything else (or null) as it came.
struct NumberIn {
  double value = 0;
  const void* arg;
  NumberIn(int fmt, const void* val) : arg(val) {
    if (fmt == kFmtNumber && val) {
      value = extended80::toDouble(*static_cast<const Extended80*>(val));
      arg = &value;
    }
  }
  const double* number() const { return static_cast<const double*>(arg); }
};

// A value the plug-in receives in format `fmt`: a number is filled as a
// double and handed over by deliver(), anything else written where it goes.
struct NumberOut {
  double value = 0;
  void* target;
  bool converts;
  NumberOut(int fmt, void* val) : target(val), converts(fmt == kFmtNumber && val) {}
  void* arg() { return converts ? &value : target; }
  double* number() { return static_cast<double*>(arg()); }
  void deliver() {
    if (converts) extended80::fromDouble(value, *static_cast<Extended80*>(target));
  }
};

short macGetFldRef(Str255<U>* name, ParamBlock* pb) {
  return answerFrom(pb, kGetFldRef, [&](Impl& h) { return onGetFldRef<U>(h, name); });
}

short macGetFldInt(short fldref, Extended80* val, ParamBlock* pb) {
  NumberOut n(kFmtNumber, val);
  short r = answerFrom(pb, kGetFldInt, [&](Impl& h) { return onGetFldInt<U>(h, fldref, n.number()); });
  n.deliver();
  return r;
}

short macSetFldVal(short fldref, short fmt, void* val, ParamBlock* pb) {
  NumberIn n(fmt, val);
  return answerFrom(pb, kSetFldVal, [&](Impl& h) { return onSetFldVal<U>(h, fldref, fmt, n.arg); });
}

short macSetFldInt(short fldref, Extended80* val, ParamBlock* pb) {
  NumberIn n(kFmtNumber, val);
  return answerFrom(pb, kSetFldInt, [&](Impl& h) { return onSetFldInt<U>(h, fldref, n.number()); });
}

short macShowMessage(short mty, std::int8_t high, std::int8_t large, std::int8_t bell, Str255<U>* text,
                     ParamBlock* pb) {
  return answerFrom(pb, kShowMessage, [&](Impl& h) { return onShowMessage<U>(h, mty, high, large, bell, text); });
}

short macGetFldVal(short fldref, short fmt, std::int32_t maxlen, void* val, ParamBlock* pb) {
  NumberOut n(fmt, val);
  short r = answerFrom(pb, kGetFldVal, [&](Impl& h) { return onGetFldVal<U>(h, fldref, fmt, maxlen, n.arg()); });
  n.deliver();
  return r;
}

short macGetLstVal(short listno, std::int32_t lineno, short fldref, short fmt, std::int32_t maxlen, void* val,
                   ParamBlock* pb) {
  LineAndMax lm{lineno, maxlen};
  NumberOut n(fmt, val);
  short r = answerFrom(pb, kGetLstVal, [&](Impl& h) { return onGetLstVal<U>(h, listno, fldref, fmt, n.arg(), &lm); });
  n.deliver();
  return r;
}

short macSetLstVal(short listno, std::int32_t lineno, short fldref, short fmt, void* val, ParamBlock* pb) {
  NumberIn n(fmt, val);
  return answerFrom(pb, kSetLstVal,
                    [&](Impl& h) { return onSetLstVal<U>(h, listno, lineno, fldref, fmt, n.arg); });
}

short macDoListOp(short lop, short listno, std::int32_t lineno, ParamBlock* pb) {
  return answerFrom(pb, kDoListOp, [&](Impl& h) { return onDoListOp<U>(h, lop, listno, lineno); });
}

short macCallProcedure(Str255<U>* name, short retfldref, ParamBlock* pb) {
  return answerFrom(pb, kCallProcedure, [&](Impl& h) { return onCallProcedure<U>(h, name, retfldref); });
}

// The information requests work on the record in its Mac layout; the
// handler sees the same fields in the request-function layout.
short infoRequest(int code, short (*handler)(Impl&, ExtInfoRec<U>*), MacExtInfoRec* rec, ParamBlock* pb) {
  if (!rec) return answerFrom(pb, code, [&](Impl& h) { return handler(h, nullptr); });
  ExtInfoRec<U> r{};
  r.name = rec->name;
  r.ref = rec->ref;
  r.type = rec->type;
  r.length = rec->length;
  r.info_request = rec->info_request;
  r.params = rec->params;
  r.returncode = rec->returncode;
  short answer = answerFrom(pb, code, [&](Impl& h) { return handler(h, &r); });
  rec->name = r.name;
  rec->ref = r.ref;
  rec->type = r.type;
  rec->length = r.length;
  rec->params = r.params;
  rec->returncode = r.returncode;
  return answer;
}

short macGetFldInfo(MacExtInfoRec* rec, ParamBlock* pb) { return infoRequest(kGetFldInfo, &onGetFldInfo<U>, rec, pb); }
short macExtensionInfo(MacExtInfoRec* rec, ParamBlock* pb) {
  return infoRequest(kExtensionInfo, &onExtensionInfo<U>, rec, pb);
}

std::int32_t macGetPackageId(ParamBlock* pb) {
  std::int32_t id = 0;
  answerFrom(pb, kGetPackageId, [&](Impl& h) { return onGetPackageId<U>(h, &id); });
  return id;
}

void* macGetDesignPtr(ParamBlock* pb) {
  void* ptr = nullptr;
  answerFrom(pb, kGetDesignPtr, [&](Impl& h) { return onGetDesignPtr<U>(h, &ptr); });
  return ptr;
}

short macGetListDef(short fldref, short len, U* def, ParamBlock* pb) {
  return answerFrom(pb, kGetListDef, [&](Impl& h) { return onGetListDef<U>(h, fldref, len, def); });
}

short macEvalCalcString(Str255<U>* text, short returnfldref, ParamBlock* pb) {
  return answerFrom(pb, kEvalCalcString, [&](Impl& h) { return onEvalCalcString<U>(h, text, returnfldref); });
}

short macPurgeFldRef(short fldref, ParamBlock* pb) {
  return answerFrom(pb, kPurgeFldRef, [&](Impl& h) { return onPurgeFldRef<U>(h, fldref); });
}

short macGetNamedVal(short fldref, Str255<U>* name, short fmt, std::int32_t maxlen, void* val, ParamBlock* pb) {
  NumberOut n(fmt, val);
  XFldValue<U> xv{name, n.arg()};
  short r = answerFrom(pb, kGetNamedVal, [&](Impl& h) { return onGetNamedVal<U>(h, fldref, fmt, maxlen, &xv); });
  n.deliver();
  return r;
}

short macGetFldInfo2(FldInfoRec<U>* fi, ParamBlock* pb) {
  return answerFrom(pb, kGetFldInfo2, [&](Impl& h) { return onGetFldInfo2<U>(h, fi); });
}

template <class F>
void put(ParamBlock& pb, int offset, F* fn) {
  pb.entries[offset / 4] = reinterpret_cast<Entry>(fn);
}

bool fillBlocks() {
#define MORAVEL_PUT_ENTRY(name, code, offset) put(pb, offset, &mac##name);
#define MORAVEL_NO_ENTRY(name, code)
  for (ParamBlock& pb : gBlocks) {
    MORAVEL_HOST_REQUESTS(MORAVEL_PUT_ENTRY, MORAVEL_NO_ENTRY)
  }
#undef MORAVEL_PUT_ENTRY
#undef MORAVEL_NO_ENTRY
  return true;
}

}  // namespace

void* macParamBlock(int depth) {
  static const bool filled = fillBlocks();
  (void)filled;
  if (depth < 0 || depth >= static_cast<int>(gBlocks.size())) return nullptr;
  return &gBlocks[static_cast<std::size_t>(depth)];
}

}  // namespace moravel::detail
