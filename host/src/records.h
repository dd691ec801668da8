// records.h: the records exchanged with a plug-in, for either unit width.
// U is the plug-in's character unit: uint8_t (one-byte build) or uint32_t
// (Unicode build). The layouts follow the plug-in's own declarations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace moravel::detail {

#pragma pack(push, 2)

template <class U>
struct Str255 {
  std::conditional_t<sizeof(U) == 1, std::uint8_t, std::uint32_t> length;
  U chars[255];
};

struct QRect {
  std::int32_t left, top, right, bottom;
};

// A rectangle of the Mac layout: four 16-bit coordinates.
struct MacRect {
  std::int16_t top, left, bottom, right;
};

template <class U, class Rect = QRect>
struct ExtInfoRec {
  Str255<U> name;
  std::int16_t ref;
  std::int16_t type;
  std::int16_t length;
  std::int16_t info_request;
  std::int16_t left, top, width, height;
  std::uintptr_t params;
  std::int16_t font, size;
  Rect static_rect, current_rect, parent_rect;
  std::int32_t xwin;
  std::int16_t returncode;
};

template <class U>
struct FldInfoRec {
  std::int16_t ver;
  std::int16_t ref;
  Str255<U> name;
  std::int16_t type;
  std::int16_t dpmask;
  std::int32_t length;
};

struct LineAndMax {  // q_
  std::int32_t lineno;
  std::int32_t maxlen;
};

template <class U>
struct XFldValue {
  Str255<U>* name;
  void* val;
};

#pragma pack(pop)

static_assert(sizeof(Str255<std::uint8_t>) == 256);
static_assert(sizeof(Str255<std::uint32_t>) == 1024);
static_assert(offsetof(ExtInfoRec<std::uint8_t>, ref) == 256);
static_assert(offsetof(ExtInfoRec<std::uint8_t>, info_request) == 262);
static_assert(offsetof(ExtInfoRec<std::uint8_t>, params) == 272);
static_assert(offsetof(ExtInfoRec<std::uint32_t>, ref) == 1024);
static_assert(offsetof(ExtInfoRec<std::uint32_t>, info_request) == 1030);
static_assert(offsetof(ExtInfoRec<std::uint32_t>, params) == 1040);
static_assert(offsetof(FldInfoRec<std::uint8_t>, type) == 260);
static_assert(offsetof(FldInfoRec<std::uint32_t>, type) == 1028);

}  // namespace moravel::detail
