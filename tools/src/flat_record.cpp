// flat_record.cpp: records of plain values parsed on demand, each value decoded into the storage it had before.
#include "flat_record.h"

#if MORAVEL_WITH_SIMDJSON
#include <simdjson.h>
#endif

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <utility>

#include "data_file.h"
#include "moravel/text.h"

namespace moravel::tool {

namespace {

// Whether every byte is ASCII and none is NUL: such bytes are their own
// decoding. Names and values are short, so one pass of the bytes here costs
// less than calls that look for each.
bool plainAscii(std::string_view bytes) {
  unsigned char bits = 0;
  bool nul = false;
  for (char c : bytes) {
    bits |= static_cast<unsigned char>(c);
    nul |= c == 0;
  }
  return bits < 0x80 && !nul;
}

}  // namespace

#if MORAVEL_WITH_SIMDJSON
namespace ondemand = simdjson::ondemand;

struct FlatRecordReader::Parser {
  ondemand::parser parser;
};

namespace {

bool isDataFileKey(std::string_view key) {
  return key == "lists" || key == "keywordMap" || key == "methods" || key == "instance";
}

// The name in `name`'s own storage, left as it is when it is the name
// already (the same field as the record before); false as fillText says.
bool fillName(std::u32string& name, std::string_view utf8, bool oneByte) {
  if (plainAscii(utf8)) {
    if (!std::equal(name.begin(), name.end(), utf8.begin(), utf8.end(),
                    [](char32_t c, char b) { return c == static_cast<unsigned char>(b); }))
      name.assign(utf8.begin(), utf8.end());
    return true;
  }
  std::size_t bad = 0;
  name = decodeUtf8(utf8, &bad);
  if (bad) return false;
  if (oneByte)
    for (char32_t c : name)
      if (c > 0xFF) return false;
  return name.find(U'\0') == std::u32string::npos;
}

// A number as the full reading takes it: an integer as integerValue says,
// any other literal as the double it reads as. Integers beyond 64 bits and
// literals too large or too small for a double are left to the full reading.
bool fillNumber(Value& v, std::string_view literal, double d) {
  while (!literal.empty() && (literal.back() == ' ' || literal.back() == '\t' || literal.back() == '\r'))
    literal.remove_suffix(1);
  bool negative = !literal.empty() && literal[0] == '-';
  std::string_view digits = literal.substr(negative ? 1 : 0);
  if (digits.find_first_not_of("0123456789") != std::string_view::npos) {
    // simdjson 3.0 misreads some literals of more than 19 digits (it reads
    // 0.7199250737095519551615e4 as 5.02...): they are left to the full reading.
    std::size_t count = 0;
    for (char c : literal) {
      if (c == 'e' || c == 'E') break;
      count += c >= '0' && c <= '9';
    }
    if (count > 19) return false;
    if (d == 0 && !isZeroLiteral(literal)) return false;
    v = Value::number(d);
    return true;
  }
  std::uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
  if (ec != std::errc() || end != digits.data() + digits.size()) return false;
  if (negative && magnitude > (std::uint64_t{1} << 63)) return false;
  v = integerValue(magnitude, negative && magnitude != 0);
  return true;
}

// One plain value into `v`; false for anything else.
bool fillScalar(Value& v, ondemand::value value, bool oneByte) {
  ondemand::json_type type;
  if (value.type().get(type)) return false;
  switch (type) {
    case ondemand::json_type::string: {
      std::string_view s;
      return !value.get_string().get(s) && fillText(v, s, oneByte);
    }
    case ondemand::json_type::number: {
      std::string_view literal = value.raw_json_token();
      double d;
      return !value.get_double().get(d) && fillNumber(v, literal, d);
    }
    case ondemand::json_type::boolean: {
      bool b;
      if (value.get_bool().get(b)) return false;
      v = Value::number(b ? 1 : 0);
      return true;
    }
    case ondemand::json_type::null: {
      bool null = false;
      if (value.is_null().get(null) || !null) return false;
      v = Value();
      return true;
    }
    default:
      return false;
  }
}

// The fields of `object` added to `out`; false when one is not plain.
bool readObject(ondemand::object object, Fields& out, bool oneByte, bool top, bool& nested, bool& flat) {
  for (auto member : object) {
    ondemand::field field;
    std::string_view key;
    if (std::move(member).get(field) || field.unescaped_key().get(key)) return false;
    if (top && (isDataFileKey(key) || key == "variables")) {
      // "variables" holding an object, once, is the data file's shape; the
      // rest of that shape is left to the full reading.
      ondemand::object inner;
      if (key != "variables" || nested || field.value().get_object().get(inner)) return false;
      nested = true;
      if (!readObject(inner, out, oneByte, false, nested, flat)) return false;
      continue;
    }
    flat = flat || top;
    if (out.count == out.all.size()) out.all.emplace_back();
    Field& f = out.all[out.count];
    if (!fillName(f.name, key, oneByte) || !fillScalar(f.value, field.value(), oneByte)) return false;
    ++out.count;
  }
  return true;
}

}  // namespace
#else
// Built without simdjson (a 32-bit test build, where Debian has no such
// library): every line takes the full reading, which gives the same values.
struct FlatRecordReader::Parser {};
#endif

bool fillText(Value& v, std::string_view utf8, bool oneByte) {
  Text* held = v.storedText();
  if (held && !held->wide() && plainAscii(utf8)) {
    // ASCII is its own decoding: copied into the block the text has.
    std::uint8_t* bytes = held->prepareNarrow(utf8.size());
    if (!utf8.empty()) std::memcpy(bytes, utf8.data(), utf8.size());
    return true;
  }
  Text t;
  if (held) t = std::move(*held);
  std::uint8_t* bytes = t.prepareNarrow(utf8.size());
  if (!utf8.empty()) std::memcpy(bytes, utf8.data(), utf8.size());
  std::size_t bad = 0;
  t = decodeUtf8(std::move(t), &bad);
  bool ok = !bad && !(oneByte && t.wide());
  if (ok && !t.wide()) ok = std::memchr(t.narrowData(), 0, t.size()) == nullptr;
  for (std::size_t i = 0; ok && t.wide() && i < t.size(); ++i) ok = t[i] != 0;
  v = Value::text(std::move(t));
  return ok;
}

FlatRecordReader::FlatRecordReader(bool oneByte) : parser_(std::make_unique<Parser>()), oneByte_(oneByte) {}

FlatRecordReader::~FlatRecordReader() = default;

bool FlatRecordReader::readsOnDemand() {
#if MORAVEL_WITH_SIMDJSON
  return true;
#else
  return false;
#endif
}

bool FlatRecordReader::read(std::string& line, Fields& out) {
  out.count = 0;
#if !MORAVEL_WITH_SIMDJSON
  (void)line;
  return false;
#else
  // The parser reads a little past the text's end, within the string's own storage.
  line.reserve(line.size() + simdjson::SIMDJSON_PADDING);
  ondemand::document doc;
  ondemand::object object;
  if (parser_->parser.iterate(line.data(), line.size(), line.capacity()).get(doc) || doc.get_object().get(object))
    return false;
  bool nested = false, flat = false;
  if (!readObject(object, out, oneByte_, true, nested, flat)) return false;
  // A flat record whose "variables" held an object is refused by the full
  // reading; so is anything after the object.
  const char* after = nullptr;
  if (nested && flat) return false;
  return doc.current_location().get(after) == simdjson::OUT_OF_BOUNDS;
#endif
}

}  // namespace moravel::tool
