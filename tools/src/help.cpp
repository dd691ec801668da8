// help.cpp: the examples, exit statuses and data-file shape that --help shows (the manual page says the same).
#include "help.h"

#include <sstream>

#include "exit_status.h"

#ifndef MORAVEL_TOOL_VERSION
#define MORAVEL_TOOL_VERSION "unknown"
#endif

namespace moravel::tool::help {

namespace {

// The exit statuses from their table, each meaning wrapped under its status.
std::string exitStatusText() {
  constexpr std::size_t kWidth = 76;
  const std::string indent(6, ' ');
  std::string text = "\nExit status:\n";
  for (const ExitMeaning& e : kExitMeanings) {
    std::string line = "  " + std::to_string(e.status);
    line.resize(indent.size(), ' ');
    std::istringstream words(e.meaning);
    std::size_t used = 0;  // words on the line so far
    for (std::string word; words >> word; ++used) {
      if (used && line.size() + 1 + word.size() > kWidth) {
        text += line + "\n";
        line = indent;
        used = 0;
      }
      line += (used ? " " : "") + word;
    }
    text += line + "\n";
  }
  return text + R"txt(Every subcommand exits with these. On any status but 0 standard error says
why, and -o FILE is left as it was; standard output gets nothing unless the
expansion succeeded, but a write that fails part-way may leave part there.
)txt";
}

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
  moravel expand mail.html --each export.csv --delimiter ';' --escape html
  moravel expand mail.txt --each people.jsonl --separator '\f'
  moravel expand letter.html --each people.csv -j 0 --records 1001-2000 -o 'out/{n}.html'

Mail merge (--each): the template is expanded once for each record.
  JSON Lines (.jsonl, .ndjson), one object a line, either flat, each key a
  variable:  {"name": "Ann", "city": "Paris", "qty": 3}
  or of the data file's shape, when every key is one of the data file's and
  variables and lists hold objects (then with those two only):
             {"variables": {"name": "Ann"}, "lists": {}}
  CSV (.csv; .tsv for tabs): a header row, each column a text variable. A
  byte-order mark is skipped; --delimiter ';' or tab for other separators. A
  quote inside a field that does not begin with one is a character of it. A
  header naming a column twice, one that did not split, and one of which the
  template reads no name while the names it reads have no value are refused.
  A JSON Lines line or CSV row longer than 64 MiB is refused.
Each record's variables lie over the common data and are gone before the
next. Without -o the results go to standard output, joined by --separator;
with -o PATTERN each goes to a file of its own: {n} is the record's number,
{n:05} the same zero-padded, {name} a variable's value; the directories the
pattern itself names are made. A record that fails stops the run
(--keep-going: the run goes on and counts).
--jobs N expands the records in N worker processes (0: one for each
processor; default 1) and writes them in record order, as one process
does; a failure stops the run at the first failing record, and files of
later records are not written. --records FROM-TO (or FROM-) expands only
the records so numbered, {n} keeping the file's numbering, so that several
processes or machines can share one file.

--escape html writes every value the tool hands the plug-in (variables,
records, -D, calculation and method results) with &amp; &lt; &gt; &quot;
&#39;; the template's text and included files are not escaped, and a
TAGGEDFIELD= or TAGGEDMETHOD= value shows its tags instead of expanding them.
)txt";

}  // namespace

std::string general() {
  return std::string(R"txt(
Run 'moravel SUBCOMMAND --help' for the options of each.
Examples:
  moravel expand letter.html --data order.json -o letter.out.html
  moravel check letter.html --data order.json
  moravel tags letter.html
  moravel --version
From a checkout, scripts/demo.sh builds this tool as it ships (Release) as
build-demo/tools/moravel.
)txt") + exitStatusText() + kDataFile;
}

std::string expand() { return std::string(kExpandExamples) + exitStatusText() + kDataFile; }

std::string check() {
  return std::string(R"txt(
Expands the template as 'expand --strict' does and writes nothing: each name
a tag reads that has no value, each calculation and each method that fails,
and a FILE= or TAGGEDFILE= file that cannot be read, one line each, named by
the line and column of the template's first tag behind it
(letter.txt:2:7: no value for 'nme': no such variable). An open tag with no
close tag is a warning and does not change the status. Exits 0 when nothing
is found: the command for an editor or a pre-commit hook. With --each, the
template is checked with every record, as 'expand --each' would expand it,
and each finding names its record; the status is the first failure's.
Examples:
  moravel check letter.html --data order.json
  moravel check letter.txt --each people.csv -D town=Basel
  moravel check page.html --files-dir "$PWD/parts/" -D title=Home
)txt") + exitStatusText() + "\nThe data file is described by 'moravel expand --help'.\n";
}

std::string tags() {
  return std::string(R"txt(
Prints the tags of the template as one JSON array of strings, in text order.
Example:
  $ printf 'Dear <FIELD>NAME</FIELD>, <FIELD>EVAL=qty*2</FIELD>' | moravel tags -
  ["NAME","EVAL=qty*2"]
)txt") + exitStatusText() + "\nThe data file is described by 'moravel expand --help'.\n";
}

std::string version() {
  return std::string(R"txt(
Prints the version of the plug-in build; 'moravel --version' also names the tool's.
Example:
  $ moravel version --build 8bit
  )txt" MORAVEL_TOOL_VERSION "\n") +
         exitStatusText() + "\nThe data file is described by 'moravel expand --help'.\n";
}

}  // namespace moravel::tool::help
