// mac_door.cpp: the parameter block of entry points through which a Mac-form
// plug-in reaches the host. Each entry puts its arguments into the form of
// the request-function interface and has the same handler answer them, so
// both doors lead to the same variables, lists, calculations and methods.
// Numbers cross this door as 80-bit extended values.
#include "mac_door.h"

#include <array>
#include <cstdarg>
#include <cmath>
#include <cstdint>

#include "doors.h"
#include "moravel/host.h"
#include "records.h"

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

// An 80-bit extended number: sign and 15-bit exponent (bias 16383), then a
// 64-bit significand with its integer bit, most significant word first.
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

double fromX80(const Extended80& x) {
  auto e = static_cast<std::uint16_t>(x.exp);
  bool negative = (e & 0x8000) != 0;
  int exponent = e & 0x7FFF;
  std::uint64_t m = 0;
  for (std::uint16_t w : x.man) m = (m << 16) | w;
  double v;
  if (exponent == 0x7FFF)
    v = (m << 1) == 0 ? HUGE_VAL : std::nan("");
  else if (m == 0)
    v = 0.0;
  else
    v = std::ldexp(static_cast<double>(m), (exponent == 0 ? 1 : exponent) - 16383 - 63);
  return negative ? -v : v;
}

Extended80 toX80(double d) {
  Extended80 x{};
  std::uint16_t sign = std::signbit(d) ? 0x8000 : 0;
  d = std::fabs(d);
  std::uint64_t m = 0;
  int exponent = 0;
  if (std::isnan(d)) {
    exponent = 0x7FFF;
    m = 0xC000000000000000ull;
  } else if (std::isinf(d)) {
    exponent = 0x7FFF;
    m = 0x8000000000000000ull;
  } else if (d != 0) {
    int e;
    double f = std::frexp(d, &e);  // d = f * 2^e, 0.5 <= f < 1; a double's range fits the normal range
    exponent = e - 1 + 16383;
    m = static_cast<std::uint64_t>(std::ldexp(f, 64));
  }
  x.exp = static_cast<std::int16_t>(sign | exponent);
  for (int i = 3; i >= 0; --i) {
    x.man[i] = static_cast<std::uint16_t>(m & 0xFFFF);
    m >>= 16;
  }
  return x;
}

std::array<ParamBlock, Host::kMaxDepth> gBlocks;

int depthOf(const ParamBlock* pb) {
  for (std::size_t i = 0; i < gBlocks.size(); ++i)
    if (pb == &gBlocks[i]) return static_cast<int>(i);
  return -1;
}

short request(const ParamBlock* pb, int code, ...) {
  va_list ap;
  va_start(ap, code);
  short r = forwardRequest(depthOf(pb), code, ap);
  va_end(ap);
  return r;
}

// A number the plug-in sends: its 80-bit value as a double, or null.
struct NumberIn {
  double value = 0;
  double* ptr = nullptr;
  explicit NumberIn(const void* val) {
    if (val) {
      value = fromX80(*static_cast<const Extended80*>(val));
      ptr = &value;
    }
  }
};

// A number the plug-in receives: filled as a double, then handed over.
struct NumberOut {
  double value = 0;
  void* target;
  explicit NumberOut(void* val) : target(val) {}
  double* ptr() { return target ? &value : nullptr; }
  void deliver() {
    if (target) *static_cast<Extended80*>(target) = toX80(value);
  }
};

short getFldRef(Str255<U>* name, ParamBlock* pb) { return request(pb, kGetFldRef, name); }

short getFldInt(short fldref, Extended80* val, ParamBlock* pb) {
  NumberOut n(val);
  short r = request(pb, kGetFldInt, int{fldref}, n.ptr());
  n.deliver();
  return r;
}

short setFldVal(short fldref, short fmt, void* val, ParamBlock* pb) {
  if (fmt != 0) return request(pb, kSetFldVal, int{fldref}, int{fmt}, val);
  NumberIn n(val);
  return request(pb, kSetFldVal, int{fldref}, 0, n.ptr);
}

short setFldInt(short fldref, Extended80* val, ParamBlock* pb) {
  NumberIn n(val);
  return request(pb, kSetFldInt, int{fldref}, n.ptr);
}

short showMessage(short mty, std::int8_t high, std::int8_t large, std::int8_t bell, Str255<U>* text,
                  ParamBlock* pb) {
  return request(pb, kShowMessage, int{mty}, int{high}, int{large}, int{bell}, text);
}

short getFldVal(short fldref, short fmt, std::int32_t maxlen, void* val, ParamBlock* pb) {
  if (fmt != 0) return request(pb, kGetFldVal, int{fldref}, int{fmt}, int{maxlen}, val);
  NumberOut n(val);
  short r = request(pb, kGetFldVal, int{fldref}, 0, int{maxlen}, n.ptr());
  n.deliver();
  return r;
}

short getLstVal(short listno, std::int32_t lineno, short fldref, short fmt, std::int32_t maxlen, void* val,
                ParamBlock* pb) {
  LineAndMax lm{lineno, maxlen};
  if (fmt != 0) return request(pb, kGetLstVal, int{listno}, int{fldref}, int{fmt}, val, &lm);
  NumberOut n(val);
  short r = request(pb, kGetLstVal, int{listno}, int{fldref}, 0, static_cast<void*>(n.ptr()), &lm);
  n.deliver();
  return r;
}

short setLstVal(short listno, std::int32_t lineno, short fldref, short fmt, void* val, ParamBlock* pb) {
  if (fmt != 0) return request(pb, kSetLstVal, int{listno}, int{lineno}, int{fldref}, int{fmt}, val);
  NumberIn n(val);
  return request(pb, kSetLstVal, int{listno}, int{lineno}, int{fldref}, 0, static_cast<void*>(n.ptr));
}

short doListOp(short lop, short listno, std::int32_t lineno, ParamBlock* pb) {
  return request(pb, kDoListOp, int{lop}, int{listno}, int{lineno});
}

short callProcedure(Str255<U>* name, short retfldref, ParamBlock* pb) {
  return request(pb, kCallProcedure, name, int{retfldref});
}

// The information requests work on the record in its Mac layout; the
// handler sees the same fields in the request-function layout.
short infoRequest(int code, MacExtInfoRec* rec, ParamBlock* pb) {
  if (!rec) return request(pb, code, static_cast<ExtInfoRec<U>*>(nullptr));
  ExtInfoRec<U> r{};
  r.name = rec->name;
  r.ref = rec->ref;
  r.type = rec->type;
  r.length = rec->length;
  r.info_request = rec->info_request;
  r.params = rec->params;
  r.returncode = rec->returncode;
  short answer = request(pb, code, &r);
  rec->name = r.name;
  rec->ref = r.ref;
  rec->type = r.type;
  rec->length = r.length;
  rec->params = r.params;
  rec->returncode = r.returncode;
  return answer;
}

short getFldInfo(MacExtInfoRec* rec, ParamBlock* pb) { return infoRequest(kGetFldInfo, rec, pb); }
short extensionInfo(MacExtInfoRec* rec, ParamBlock* pb) { return infoRequest(kExtensionInfo, rec, pb); }

std::int32_t getPackageId(ParamBlock* pb) {
  std::int32_t id = 0;
  request(pb, kGetPackageId, &id);
  return id;
}

void* getDesignPtr(ParamBlock* pb) {
  void* ptr = nullptr;
  request(pb, kGetDesignPtr, &ptr);
  return ptr;
}

short getListDef(short fldref, short len, U* def, ParamBlock* pb) {
  return request(pb, kGetListDef, int{fldref}, int{len}, def);
}

short evalCalcString(Str255<U>* text, short returnfldref, ParamBlock* pb) {
  return request(pb, kEvalCalcString, text, int{returnfldref});
}

short purgeFldRef(short fldref, ParamBlock* pb) { return request(pb, kPurgeFldRef, int{fldref}); }

short getNamedVal(short fldref, Str255<U>* name, short fmt, std::int32_t maxlen, void* val, ParamBlock* pb) {
  if (fmt != 0) {
    XFldValue<U> xv{name, val};
    return request(pb, kGetNamedVal, int{fldref}, int{fmt}, int{maxlen}, &xv);
  }
  NumberOut n(val);
  XFldValue<U> xv{name, n.ptr()};
  short r = request(pb, kGetNamedVal, int{fldref}, 0, int{maxlen}, &xv);
  n.deliver();
  return r;
}

short getFldInfo2(FldInfoRec<U>* fi, ParamBlock* pb) { return request(pb, kGetFldInfo2, fi); }

template <class F>
void put(ParamBlock& pb, int offset, F* fn) {
  pb.entries[offset / 4] = reinterpret_cast<Entry>(fn);
}

bool fillBlocks() {
  for (ParamBlock& pb : gBlocks) {
    put(pb, kAtGetFldRef, &getFldRef);
    put(pb, kAtGetFldInt, &getFldInt);
    put(pb, kAtSetFldVal, &setFldVal);
    put(pb, kAtSetFldInt, &setFldInt);
    put(pb, kAtShowMessage, &showMessage);
    put(pb, kAtGetFldVal, &getFldVal);
    put(pb, kAtGetLstVal, &getLstVal);
    put(pb, kAtSetLstVal, &setLstVal);
    put(pb, kAtDoListOp, &doListOp);
    put(pb, kAtCallProcedure, &callProcedure);
    put(pb, kAtGetFldInfo, &getFldInfo);
    put(pb, kAtExtensionInfo, &extensionInfo);
    put(pb, kAtGetPackageId, &getPackageId);
    put(pb, kAtGetDesignPtr, &getDesignPtr);
    put(pb, kAtGetListDef, &getListDef);
    put(pb, kAtEvalCalcString, &evalCalcString);
    put(pb, kAtPurgeFldRef, &purgeFldRef);
    put(pb, kAtGetNamedVal, &getNamedVal);
    put(pb, kAtGetFldInfo2, &getFldInfo2);
  }
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
