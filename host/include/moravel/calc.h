// calc.h: the small calculation language the test host evaluates for
// EvalCalcString and runs in methods for CallProcedure.
//
//   expression := comparison
//   comparison := sum { ( "=" | "<>" | "<" | ">" | "<=" | ">=" ) sum }
//   sum        := product { ( "+" | "-" ) product }
//   product    := unary { ( "*" | "/" ) unary }
//   unary      := ( "-" | "+" ) unary | primary
//   primary    := number | string | "(" expression ")" | name "(" [ args ] ")" | name
//
// Numbers: digits with an optional fraction and exponent (12, 2.5, .5, 1e3).
// Strings: 'single' or "double" quoted; no escapes, the string ends at the
// next quote of the same kind.
// Names: start with a letter, "_", "#" or "$" and go on with letters, digits,
// "_", "#", "$" and "."; a variable name is looked up exactly as written.
//
// Semantics:
// - "+", "-", "*", "/" and unary minus need numbers: a number, or a text that
//   is wholly numeric ("3", " 2.5"). Anything else is an error ("+" does not
//   join texts: use con()). Division by zero is an error.
// - Comparisons give 1 or 0; they compare numerically when both sides are
//   numeric, else as texts by code point.
// - con(a, ...) joins its arguments as texts; upp(s) and low(s) change the
//   case of A-Z/a-z and of the Latin-1 letters; len(s) is the number of
//   characters; mid(s, start [, count]) takes count characters from position
//   start (from 1; a start below 1 counts as 1; no count: to the end).
//   Function names ignore case.
// - Moravel.Name(arg, ...) calls the plug-in's function Name (Version,
//   GetTagList, DoSubstitutions, MapKeywordsToFields, SetFilesDirectory,
//   SetTags) and gives its return value. An argument that is a bare variable
//   name is passed by reference, so the function can write to it; every
//   other argument, a name in parentheses included, is passed by value.
// - A number literal that a double cannot hold (1e400, 1e-400) is an error,
//   and so is a result that is infinite or not a number.
// - Parentheses, signs and function calls nest at most kMaxNesting levels
//   deep; a chain of operators (1+1+...+1) is not nesting and has no limit,
//   nor has the number of con()'s arguments.
// - An unknown variable, a list used as a value, or a failed plug-in call is
//   an error. A text that does not parse, or whose evaluation fails, produces
//   no value.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "moravel/value.h"

namespace moravel::calc {

// How deeply parentheses, signs and function calls may nest.
constexpr int kMaxNesting = 100;

class Error : public std::runtime_error {
 public:
  Error(const std::string& what, std::size_t position)
      : std::runtime_error(what), position_(position) {}
  std::size_t position() const { return position_; }

 private:
  std::size_t position_;
};

struct PluginArg {
  bool byReference = false;
  std::u32string variable;  // when byReference
  Value value;              // otherwise
};

// What an evaluation needs from its surroundings.
class Context {
 public:
  virtual ~Context() = default;
  // The value of variable `name`; nullopt when there is no such variable or
  // it holds a list.
  virtual std::optional<Value> variable(std::u32string_view name) = 0;
  virtual bool hasVariable(std::u32string_view name) = 0;
  // Runs plug-in function `packageId`; nullopt, or calc::Error saying why,
  // when the call could not be made.
  virtual std::optional<Value> callPlugin(int packageId, std::vector<PluginArg> args) = 0;
};

struct Node;

class Expression {
 public:
  // Throws calc::Error when `text` is not a complete expression.
  static Expression parse(std::u32string_view text);
  // Throws calc::Error when evaluation fails.
  Value evaluate(Context& context) const;

  Expression(Expression&&) noexcept;
  Expression& operator=(Expression&&) noexcept;
  ~Expression();

 private:
  explicit Expression(std::unique_ptr<Node> root);
  std::unique_ptr<Node> root_;
};

struct Outcome {
  bool ok = false;
  Value value;
  std::string error;  // when !ok: what went wrong
};

// Parses and evaluates; never throws calc::Error.
Outcome run(std::u32string_view text, Context& context);

// Package id of the plug-in function `name` ("Version" .. "SetTags", any
// case), or 0.
int packageIdOf(std::u32string_view name);

}  // namespace moravel::calc
