// merge_wire.cpp: the messages between a parallel mail merge and its worker processes, and the pipes they travel by.
#include "merge_wire.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "moravel/text.h"

namespace moravel::tool {

WireOut::WireOut(std::string& into, Wire kind) : out_(into), start_(into.size()) {
  out_.append(4, '\0');
  byte(static_cast<std::uint8_t>(kind));
}

WireOut::~WireOut() {
  auto n = static_cast<std::uint32_t>(out_.size() - start_ - 4);
  std::memcpy(&out_[start_], &n, 4);
}

void WireOut::number(std::int64_t n) { out_.append(reinterpret_cast<const char*>(&n), sizeof n); }

void WireOut::bytes(std::string_view s) {
  number(static_cast<std::int64_t>(s.size()));
  out_.append(s);
}

void WireOut::chars(std::u32string_view s) {
  number(static_cast<std::int64_t>(s.size()));
  out_.append(reinterpret_cast<const char*>(s.data()), s.size() * sizeof(char32_t));
}

void WireOut::text(const Text& t) {
  byte(t.wide());
  if (t.wide()) chars(std::u32string_view(t.wideData(), t.size()));
  else bytes(std::string_view(reinterpret_cast<const char*>(t.narrowData()), t.size()));
}

void WireOut::textBytes(const Text& t, bool utf8) {
  std::size_t at = out_.size();
  number(0);
  appendText(t, utf8, out_);
  auto n = static_cast<std::int64_t>(out_.size() - at - sizeof(std::int64_t));
  std::memcpy(&out_[at], &n, sizeof n);
}

void WireOut::value(const Value& v) {
  if (const Text* t = v.storedText()) {
    byte(1);
    text(*t);
    return;
  }
  byte(0);
  double d = v.asNumber();
  out_.append(reinterpret_cast<const char*>(&d), sizeof d);
}

void WireOut::record(const Record& r) {
  number(r.number);
  number(r.line);
  number(static_cast<std::int64_t>(r.fields.count));
  for (std::size_t i = 0; i < r.fields.count; ++i) {
    chars(r.fields.all[i].name);
    value(r.fields.all[i].value);
  }
  number(static_cast<std::int64_t>(r.data.variables.size()));
  for (const auto& [name, v] : r.data.variables) {
    chars(name);
    value(v);
  }
  number(static_cast<std::int64_t>(r.data.lists.size()));
  for (const auto& [name, l] : r.data.lists) {
    chars(name);
    number(static_cast<std::int64_t>(l.columns.size()));
    for (const auto& c : l.columns) chars(c);
    number(static_cast<std::int64_t>(l.rows.size()));
    for (const auto& row : l.rows) {
      number(static_cast<std::int64_t>(row.size()));
      for (const auto& cell : row) value(cell);
    }
  }
}

const char* WireIn::take(std::size_t n) {
  if (static_cast<std::size_t>(end_ - at_) < n) throw std::runtime_error("a worker's message ends early");
  const char* p = at_;
  at_ += n;
  return p;
}

std::uint8_t WireIn::byte() { return static_cast<std::uint8_t>(*take(1)); }

std::int64_t WireIn::number() {
  std::int64_t n;
  std::memcpy(&n, take(sizeof n), sizeof n);
  return n;
}

std::string_view WireIn::bytes() {
  auto n = static_cast<std::size_t>(number());
  return {take(n), n};
}

std::u32string WireIn::chars() {
  auto n = static_cast<std::size_t>(number());
  std::u32string s(n, U'\0');
  std::memcpy(s.data(), take(n * sizeof(char32_t)), n * sizeof(char32_t));
  return s;
}

Value WireIn::value() {
  if (byte() == 0) {
    double d;
    std::memcpy(&d, take(sizeof d), sizeof d);
    return Value::number(d);
  }
  if (byte()) return Value::text(Text(chars()));
  return Value::text(Text::fromBytes(bytes()));
}

void WireIn::chars(std::u32string& into) {
  auto n = static_cast<std::size_t>(number());
  const char* p = take(n * sizeof(char32_t));
  into.resize(n);
  std::memcpy(into.data(), p, n * sizeof(char32_t));
}

void WireIn::value(Value& into) {
  Text* held = into.storedText();
  if (byte() == 0 || !held) {
    at_ -= 1;
    into = value();
    return;
  }
  bool wide = byte() != 0;
  auto n = static_cast<std::size_t>(number());
  const char* p = take(n * (wide ? sizeof(char32_t) : 1));
  if (wide) std::memcpy(held->prepareWide(n), p, n * sizeof(char32_t));
  else if (n) std::memcpy(held->prepareNarrow(n), p, n);
  else held->prepareNarrow(0);
}

void WireIn::record(Record& r) {
  r.number = static_cast<long>(number());
  r.line = static_cast<long>(number());
  auto count = static_cast<std::size_t>(number());
  if (r.fields.all.size() < count) r.fields.all.resize(count);
  r.fields.count = count;
  for (std::size_t i = 0; i < count; ++i) {
    chars(r.fields.all[i].name);
    value(r.fields.all[i].value);
  }
  r.data.variables.clear();
  for (auto n = number(); n > 0; --n) {
    std::u32string name = chars();
    r.data.variables.emplace_back(std::move(name), value());
  }
  r.data.lists.clear();
  for (auto n = number(); n > 0; --n) {
    std::pair<std::u32string, List> named{chars(), {}};
    for (auto c = number(); c > 0; --c) named.second.columns.push_back(chars());
    for (auto rows = number(); rows > 0; --rows) {
      named.second.rows.emplace_back();
      for (auto c = number(); c > 0; --c) named.second.rows.back().push_back(value());
    }
    r.data.lists.push_back(std::move(named));
  }
}

std::size_t wholeMessage(std::string_view buffer) {
  if (buffer.size() < 4) return 0;
  std::uint32_t n;
  std::memcpy(&n, buffer.data(), 4);
  return buffer.size() - 4 >= n ? n + 4 : 0;
}

namespace {

// Reads exactly n bytes; false at the end of the pipe before the first.
bool readExactly(int fd, char* into, std::size_t n, bool begun) {
  std::size_t got = 0;
  while (got < n) {
    ssize_t r = ::read(fd, into + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) throw std::runtime_error(std::string("cannot read from the merge: ") + std::strerror(errno));
    if (r == 0) {
      if (got == 0 && !begun) return false;
      throw std::runtime_error("a message of the merge ends early");
    }
    got += static_cast<std::size_t>(r);
  }
  return true;
}

}  // namespace

bool readMessage(int fd, std::string& body) {
  std::uint32_t n;
  if (!readExactly(fd, reinterpret_cast<char*>(&n), 4, false)) return false;
  body.resize(n);
  return readExactly(fd, body.data(), n, true);
}

bool writeAll(int fd, const std::string& bytes) {
  const char* p = bytes.data();
  std::size_t n = bytes.size();
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

void appendText(const Text& text, bool utf8, std::string& out) {
  if (!text.wide() && (!utf8 || isAscii(text.narrowData(), text.size())))
    out.append(reinterpret_cast<const char*>(text.narrowData()), text.size());
  else
    appendUtf8(text, 0, text.size(), out);
}

}  // namespace moravel::tool
