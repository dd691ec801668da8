// help.cpp: the examples, exit statuses and data-file shape that --help shows (tools/moravel.1 says the same).
#include "help.h"

namespace moravel::tool::help {

namespace {

const char* const kExitStatus = R"txt(
Exit status:
  0   success
  2   out of memory (the plug-in or the tool), the plug-in not ready, or a
      TAGGED value that leads back to itself (more than 256 nested levels)
  3   the plug-in rejected the parameters (an empty tag, an unusable keyword map)
  4   a file named in a tag could not be opened
  5   a file named in a tag could not be read, or its text holds a zero character
  64  usage error: bad arguments, a template or data file that cannot be read
      or holds a NUL character, bad data
  65  --strict: a name, calculation or method the host could not answer
  69  the plug-in library cannot be found or loaded, or is not the build asked for
  70  an internal error of the tool
  73  the output cannot be written
Every subcommand exits with these. On any status but 0 standard error says
why, and -o FILE is left as it was; standard output gets nothing unless the
expansion succeeded, but a write that fails part-way may leave part there.
)txt";

const char* const kDataFile = R"txt(
Data file (--data; JSON, every key optional):
  {"variables":  {"lName": "Ann", "qty": 3, "vip": true, "note": null},
   "lists":      {"lItems": {"columns": ["name", "price"], "rows": [["pen", 2.5]]}},
   "keywordMap": [["NAME", "lName"]],
   "methods":    {"$closing": "upp(lName)", "$two": ["con('a', 'b')", "len('abc')"]},
   "instance":   "wOrder"}
  true and false are the numbers 1 and 0, null is the empty text, and an integer
  that a double cannot hold exactly is kept as its digits. Several --data files
  merge in order, later names winning; -D name=value sets a text variable over
  them; an empty keywordMap means no map. Calculations: numbers, 'texts',
  variables, + - * /, comparisons, and con upp low len mid; they fail when
  parentheses, signs and calls nest more than 100 deep or a number is out of
  a double's range.
)txt";

const char* const kExpandExamples = R"txt(
Examples:
  moravel expand letter.html --data order.json -o letter.out.html
  printf 'Hi {{who}}\n' | moravel expand - --tags '{{' '}}' -D who=Ann
  moravel expand page.html --data site.json --data - --strict < page.json
  moravel expand letter.html --each people.csv -o 'out/{n:05}-{last}.html'
  moravel expand mail.txt --each people.jsonl --separator '\f'

Mail merge (--each): the template is expanded once for each record, JSON
Lines (.jsonl, .ndjson: one object of the data file's shape a line, with
variables and lists) or CSV (.csv: a header row, each column a text
variable). Each record's variables lie over the common data and are gone
before the next. Without -o the results go to standard output, joined by
--separator; with -o PATTERN each goes to a file of its own: {n} is the
record's number, {n:05} the same zero-padded, {name} a variable's value. A
record that fails stops the run (--keep-going: the run goes on and counts).
)txt";

}  // namespace

std::string general() {
  return std::string(R"txt(
Run 'moravel SUBCOMMAND --help' for the options of each.
Examples:
  moravel expand letter.html --data order.json -o letter.out.html
  moravel tags letter.html
  moravel --version
)txt") + kExitStatus + kDataFile;
}

std::string expand() { return std::string(kExpandExamples) + kExitStatus + kDataFile; }

std::string tags() {
  return std::string(R"txt(
Prints the tags of the template as one JSON array of strings, in text order.
Example:
  $ printf 'Dear <FIELD>NAME</FIELD>, <FIELD>EVAL=qty*2</FIELD>' | moravel tags -
  ["NAME","EVAL=qty*2"]
)txt") + kExitStatus + "\nThe data file is described by 'moravel expand --help'.\n";
}

std::string version() {
  return std::string(R"txt(
Prints the version of the plug-in build; 'moravel --version' also names the tool's.
Example:
  $ moravel version --build 8bit
  1.5
)txt") + kExitStatus + "\nThe data file is described by 'moravel expand --help'.\n";
}

}  // namespace moravel::tool::help
