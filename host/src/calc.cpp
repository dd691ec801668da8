// calc.cpp: parser and evaluator of the calculation language.
#include "moravel/calc.h"

#include <algorithm>
#include <cmath>

#include "moravel/text.h"

namespace moravel::calc {

enum class Builtin { Con, Upp, Low, Len, Mid, Plugin };

// Operators of one precedence level form a chain of operands evaluated left
// to right, so a long sum is one node and nesting grows only with
// parentheses, signs and function calls.
struct Node {
  enum class Kind { Number, String, Variable, Negate, Chain, Call };
  Kind kind;
  std::size_t position = 0;
  double number = 0;
  std::u32string text;  // string literal or variable name
  char32_t op = 0;      // Negate: '-' or '+'
  // Chain: the operator before each operand after the first ('+', '-', '*',
  // '/', '=', '#' (<>), '<', '>', 'l' (<=), 'g' (>=)) and where it stands.
  std::u32string ops;
  std::vector<std::size_t> opPositions;
  Builtin builtin = Builtin::Con;
  bool grouped = false;  // written in parentheses
  int packageId = 0;
  std::vector<std::unique_ptr<Node>> kids;
};

namespace {

char32_t foldAscii(char32_t c) { return (c >= U'A' && c <= U'Z') ? c + 32 : c; }

bool equalsIgnoringCase(std::u32string_view a, std::u32string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (foldAscii(a[i]) != foldAscii(b[i])) return false;
  return true;
}

bool isNameStart(char32_t c) {
  return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || c == U'_' || c == U'#' ||
         c == U'$' || c >= 0x80;
}

bool isNameChar(char32_t c) { return isNameStart(c) || (c >= U'0' && c <= U'9') || c == U'.'; }

bool isDigit(char32_t c) { return c >= U'0' && c <= U'9'; }

class Parser {
 public:
  explicit Parser(std::u32string_view text) : s_(text) {}

  std::unique_ptr<Node> parseAll() {
    auto n = comparison();
    skipBlanks();
    if (i_ != s_.size()) fail("unexpected character");
    return n;
  }

 private:
  [[noreturn]] void fail(const std::string& what) {
    throw Error(what + " at position " + std::to_string(i_ + 1), i_);
  }

  void skipBlanks() {
    while (i_ < s_.size() && (s_[i_] == U' ' || s_[i_] == U'\t' || s_[i_] == U'\r' || s_[i_] == U'\n'))
      ++i_;
  }

  bool accept(std::u32string_view tok) {
    skipBlanks();
    if (s_.substr(i_, tok.size()) == tok) {
      i_ += tok.size();
      return true;
    }
    return false;
  }

  std::unique_ptr<Node> make(Node::Kind k, std::size_t pos) {
    auto n = std::make_unique<Node>();
    n->kind = k;
    n->position = pos;
    return n;
  }

  // Adds `op` and its right operand to the chain that `left` begins.
  static std::unique_ptr<Node> extend(std::unique_ptr<Node> left, char32_t op, std::size_t pos,
                                      std::unique_ptr<Node> right, const std::u32string_view family) {
    if (left->kind != Node::Kind::Chain || left->grouped || family.find(left->ops[0]) == std::u32string_view::npos) {
      auto chain = std::make_unique<Node>();
      chain->kind = Node::Kind::Chain;
      chain->position = left->position;
      chain->kids.push_back(std::move(left));
      left = std::move(chain);
    }
    left->ops.push_back(op);
    left->opPositions.push_back(pos);
    left->kids.push_back(std::move(right));
    return left;
  }

  std::unique_ptr<Node> comparison() {
    auto left = sum();
    for (;;) {
      skipBlanks();
      std::size_t pos = i_;
      char32_t op;
      if (accept(U"<>")) op = U'#';
      else if (accept(U"<=")) op = U'l';
      else if (accept(U">=")) op = U'g';
      else if (accept(U"=")) op = U'=';
      else if (accept(U"<")) op = U'<';
      else if (accept(U">")) op = U'>';
      else return left;
      left = extend(std::move(left), op, pos, sum(), U"#lg=<>");
    }
  }

  std::unique_ptr<Node> sum() {
    auto left = product();
    for (;;) {
      skipBlanks();
      std::size_t pos = i_;
      char32_t op;
      if (accept(U"+")) op = U'+';
      else if (accept(U"-")) op = U'-';
      else return left;
      left = extend(std::move(left), op, pos, product(), U"+-");
    }
  }

  std::unique_ptr<Node> product() {
    auto left = unary();
    for (;;) {
      skipBlanks();
      std::size_t pos = i_;
      char32_t op;
      if (accept(U"*")) op = U'*';
      else if (accept(U"/")) op = U'/';
      else return left;
      left = extend(std::move(left), op, pos, unary(), U"*/");
    }
  }

  // Every operand passes here, so the depth counts parentheses, signs and
  // function calls: the bound keeps parsing, evaluation and destruction of
  // the tree within a small stack.
  std::unique_ptr<Node> unary() {
    if (++depth_ > kMaxNesting) fail("calculation nested more than " + std::to_string(kMaxNesting) + " levels deep");
    auto n = signedOperand();
    --depth_;
    return n;
  }

  std::unique_ptr<Node> signedOperand() {
    skipBlanks();
    std::size_t pos = i_;
    if (accept(U"-")) {
      auto n = make(Node::Kind::Negate, pos);
      n->kids.push_back(unary());
      return n;
    }
    if (accept(U"+")) {
      // Unary plus still insists on a number.
      auto n = make(Node::Kind::Negate, pos);
      n->op = U'+';
      n->kids.push_back(unary());
      return n;
    }
    return primary();
  }

  std::unique_ptr<Node> primary() {
    skipBlanks();
    std::size_t pos = i_;
    if (i_ >= s_.size()) fail("expression expected");
    char32_t c = s_[i_];
    if (isDigit(c) || (c == U'.' && i_ + 1 < s_.size() && isDigit(s_[i_ + 1]))) return numberLiteral();
    if (c == U'\'' || c == U'"') {
      std::size_t end = s_.find(c, i_ + 1);
      if (end == std::u32string_view::npos) fail("unterminated string");
      auto n = make(Node::Kind::String, pos);
      n->text = std::u32string(s_.substr(i_ + 1, end - i_ - 1));
      i_ = end + 1;
      return n;
    }
    if (c == U'(') {
      ++i_;
      auto n = comparison();
      if (!accept(U")")) fail("')' expected");
      n->grouped = true;
      return n;
    }
    if (isNameStart(c)) {
      std::size_t start = i_;
      while (i_ < s_.size() && isNameChar(s_[i_])) ++i_;
      std::u32string name(s_.substr(start, i_ - start));
      skipBlanks();
      if (i_ < s_.size() && s_[i_] == U'(') return call(name, pos);
      auto n = make(Node::Kind::Variable, pos);
      n->text = std::move(name);
      return n;
    }
    fail("expression expected");
  }

  std::unique_ptr<Node> numberLiteral() {
    std::size_t start = i_;
    while (i_ < s_.size() && isDigit(s_[i_])) ++i_;
    if (i_ < s_.size() && s_[i_] == U'.') {
      ++i_;
      while (i_ < s_.size() && isDigit(s_[i_])) ++i_;
    }
    if (i_ < s_.size() && (s_[i_] == U'e' || s_[i_] == U'E')) {
      std::size_t save = i_;
      ++i_;
      if (i_ < s_.size() && (s_[i_] == U'+' || s_[i_] == U'-')) ++i_;
      if (i_ < s_.size() && isDigit(s_[i_])) {
        while (i_ < s_.size() && isDigit(s_[i_])) ++i_;
      } else {
        i_ = save;  // "2e" is the number 2 followed by a name: rejected later
      }
    }
    std::u32string_view literal = s_.substr(start, i_ - start);
    auto v = parseNumber(literal);
    if (!v) {
      i_ = start;
      fail("bad number");
    }
    if (!std::isfinite(*v) || (*v == 0 && !isZeroLiteral(literal))) {
      i_ = start;
      fail("number out of range");
    }
    if (i_ < s_.size() && isNameStart(s_[i_])) fail("bad number");
    auto n = make(Node::Kind::Number, start);
    n->number = *v;
    return n;
  }

  std::unique_ptr<Node> call(const std::u32string& name, std::size_t pos) {
    auto n = make(Node::Kind::Call, pos);
    n->text = name;
    static constexpr std::u32string_view kPrefix = U"moravel.";
    std::size_t minArgs = 0, maxArgs = 0;
    if (name.size() > kPrefix.size() && equalsIgnoringCase(std::u32string_view(name).substr(0, kPrefix.size()), kPrefix)) {
      n->builtin = Builtin::Plugin;
      n->packageId = packageIdOf(std::u32string_view(name).substr(kPrefix.size()));
      if (n->packageId == 0) fail("unknown plug-in function " + encodeUtf8(name));
      maxArgs = 64;
    } else if (equalsIgnoringCase(name, U"con")) {
      n->builtin = Builtin::Con, maxArgs = SIZE_MAX;
    } else if (equalsIgnoringCase(name, U"upp")) {
      n->builtin = Builtin::Upp, minArgs = maxArgs = 1;
    } else if (equalsIgnoringCase(name, U"low")) {
      n->builtin = Builtin::Low, minArgs = maxArgs = 1;
    } else if (equalsIgnoringCase(name, U"len")) {
      n->builtin = Builtin::Len, minArgs = maxArgs = 1;
    } else if (equalsIgnoringCase(name, U"mid")) {
      n->builtin = Builtin::Mid, minArgs = 2, maxArgs = 3;
    } else {
      fail("unknown function " + encodeUtf8(name));
    }
    accept(U"(");
    if (!accept(U")")) {
      do n->kids.push_back(comparison());
      while (accept(U","));
      if (!accept(U")")) fail("')' or ',' expected");
    }
    if (n->kids.size() < minArgs || n->kids.size() > maxArgs)
      throw Error("wrong number of arguments to " + encodeUtf8(name), pos);
    return n;
  }

  std::u32string_view s_;
  std::size_t i_ = 0;
  int depth_ = 0;
};


char32_t toUpper(char32_t c) {
  if ((c >= U'a' && c <= U'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;
  return c;
}

char32_t toLower(char32_t c) {
  if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
  return c;
}

Value eval(const Node& n, Context& ctx);

double needNumber(const Value& v, std::size_t position, const char* what) {
  auto d = v.numeric();
  if (!d) throw Error(std::string(what) + " needs a number, not '" + encodeUtf8(v.asText()) + "'", position);
  return *d;
}

// A result a double cannot hold is no result.
Value finite(double d, std::size_t position) {
  if (std::isnan(d)) throw Error("the result is not a number", position);
  if (std::isinf(d)) throw Error("the result is out of range", position);
  return Value::number(d);
}

Value arithmetic(char32_t op, std::size_t position, const Value& l, const Value& r) {
  const char what[2] = {static_cast<char>(op), 0};
  double a = needNumber(l, position, what), b = needNumber(r, position, what);
  switch (op) {
    case U'+': return finite(a + b, position);
    case U'-': return finite(a - b, position);
    case U'*': return finite(a * b, position);
    default:
      if (b == 0) throw Error("division by zero", position);
      return finite(a / b, position);
  }
}

bool compare(char32_t op, const Value& l, const Value& r) {
  int cmp;
  auto a = l.numeric(), b = r.numeric();
  if (a && b) {
    cmp = *a < *b ? -1 : *a > *b ? 1 : 0;
  } else {
    std::u32string x = l.asText(), y = r.asText();
    cmp = x < y ? -1 : x > y ? 1 : 0;
  }
  switch (op) {
    case U'=': return cmp == 0;
    case U'#': return cmp != 0;
    case U'<': return cmp < 0;
    case U'>': return cmp > 0;
    case U'l': return cmp <= 0;
    default: return cmp >= 0;
  }
}

Value apply(char32_t op, std::size_t position, const Value& l, const Value& r) {
  if (op == U'+' || op == U'-' || op == U'*' || op == U'/') return arithmetic(op, position, l, r);
  return Value::number(compare(op, l, r) ? 1 : 0);
}

Value evalCall(const Node& n, Context& ctx) {
  if (n.builtin == Builtin::Plugin) {
    std::vector<PluginArg> args;
    for (const auto& k : n.kids) {
      PluginArg a;
      if (k->kind == Node::Kind::Variable && !k->grouped) {
        if (!ctx.hasVariable(k->text)) throw Error("unknown variable " + encodeUtf8(k->text), k->position);
        a.byReference = true;
        a.variable = k->text;
      } else {
        a.value = eval(*k, ctx);
      }
      args.push_back(std::move(a));
    }
    std::optional<Value> r;
    try {
      r = ctx.callPlugin(n.packageId, std::move(args));
    } catch (const Error& e) {
      throw Error("call of " + encodeUtf8(n.text) + " failed: " + e.what(), n.position);
    }
    if (!r) throw Error("call of " + encodeUtf8(n.text) + " failed", n.position);
    return *r;
  }
  std::vector<Value> a;
  for (const auto& k : n.kids) a.push_back(eval(*k, ctx));
  switch (n.builtin) {
    case Builtin::Con: {
      std::u32string s;
      for (const auto& v : a) s += v.asText();
      return Value::text(std::move(s));
    }
    case Builtin::Upp: {
      std::u32string s = a[0].asText();
      std::transform(s.begin(), s.end(), s.begin(), toUpper);
      return Value::text(std::move(s));
    }
    case Builtin::Low: {
      std::u32string s = a[0].asText();
      std::transform(s.begin(), s.end(), s.begin(), toLower);
      return Value::text(std::move(s));
    }
    case Builtin::Len:
      return Value::number(static_cast<double>(a[0].asText().size()));
    case Builtin::Mid: {
      std::u32string s = a[0].asText();
      double start = std::trunc(needNumber(a[1], n.kids[1]->position, "mid()"));
      if (start < 1) start = 1;
      if (start > static_cast<double>(s.size())) return Value::text(U"");
      std::size_t from = static_cast<std::size_t>(start) - 1;
      std::size_t count = s.size() - from;
      if (a.size() == 3) {
        double c = std::trunc(needNumber(a[2], n.kids[2]->position, "mid()"));
        if (c < 0) c = 0;
        if (c < static_cast<double>(count)) count = static_cast<std::size_t>(c);
      }
      return Value::text(s.substr(from, count));
    }
    case Builtin::Plugin:
      break;
  }
  return Value();
}

Value eval(const Node& n, Context& ctx) {
  switch (n.kind) {
    case Node::Kind::Number:
      return Value::number(n.number);
    case Node::Kind::String:
      return Value::text(n.text);
    case Node::Kind::Variable: {
      auto v = ctx.variable(n.text);
      if (!v) {
        if (ctx.hasVariable(n.text))
          throw Error("list " + encodeUtf8(n.text) + " used as a value", n.position);
        throw Error("unknown variable " + encodeUtf8(n.text), n.position);
      }
      return *v;
    }
    case Node::Kind::Negate: {
      double d = needNumber(eval(*n.kids[0], ctx), n.position, n.op == U'+' ? "unary +" : "unary -");
      return Value::number(n.op == U'+' ? d : -d);
    }
    case Node::Kind::Call:
      return evalCall(n, ctx);
    case Node::Kind::Chain:
      break;
  }
  Value acc = eval(*n.kids[0], ctx);
  for (std::size_t i = 1; i < n.kids.size(); ++i) acc = apply(n.ops[i - 1], n.opPositions[i - 1], acc, eval(*n.kids[i], ctx));
  return acc;
}

}  // namespace

Expression::Expression(std::unique_ptr<Node> root) : root_(std::move(root)) {}
Expression::Expression(Expression&&) noexcept = default;
Expression& Expression::operator=(Expression&&) noexcept = default;
Expression::~Expression() = default;

Expression Expression::parse(std::u32string_view text) { return Expression(Parser(text).parseAll()); }

Value Expression::evaluate(Context& context) const { return eval(*root_, context); }

Outcome run(std::u32string_view text, Context& context) {
  Outcome out;
  try {
    Expression e = Expression::parse(text);
    out.value = e.evaluate(context);
    out.ok = true;
  } catch (const Error& e) {
    out.error = e.what();
  }
  return out;
}

int packageIdOf(std::u32string_view name) {
  static constexpr std::u32string_view kNames[] = {U"Version", U"GetTagList", U"DoSubstitutions",
                                                    U"MapKeywordsToFields", U"SetFilesDirectory",
                                                    U"SetTags"};
  for (int i = 0; i < 6; ++i)
    if (equalsIgnoringCase(name, kNames[i])) return i + 1;
  return 0;
}

}  // namespace moravel::calc
