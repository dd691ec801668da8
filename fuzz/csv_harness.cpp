// csv_harness.cpp: libFuzzer entry for the tool's CSV and TSV records (RecordReader).
//
// Input: one byte choosing the delimiter (the format's own comma, ',' ';' or
// a tab given, TSV's own tab) and the build (one-byte or Unicode), then the
// bytes of the file.
//
// Oracles besides the sanitizers: a refusal is a DataError with status 64;
// there are at most as many records as line breaks plus one; the header and
// every record read, with its line, equal an independent reading of the same
// bytes (plain_csv.h), which refuses exactly where the reader does, a row
// longer than the limit included (made small in the fuzz build).
#include <cstdint>
#include <sstream>
#include <string>

#include "plain_csv.h"
#include "records.h"

using namespace moravel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size == 0) return 0;
  static const char kDelimiters[] = {0, ',', ';', '\t', 0};
  int choice = data[0] % 5;
  bool oneByte = (data[0] / 5) & 1;
  char given = kDelimiters[choice];
  tool::RecordFormat format = choice == 4 ? tool::RecordFormat::Tsv : tool::RecordFormat::Csv;
  char delimiter = given ? given : choice == 4 ? '\t' : ',';
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  PlainCsv expected = PlainCsvReader::Read(bytes, delimiter, given != 0, oneByte, tool::kMaxRecordBytes);
  std::istringstream in(bytes);
  tool::RecordReader reader(in, "records", format, oneByte, given);
  tool::Record r;
  size_t read = 0;
  bool refused = false;
  try {
    while (reader.next(r)) {
      if (read == expected.records.size()) Fail("a record beyond the independent reading's");
      const PlainCsvRecord& want = expected.records[read];
      ++read;
      if (r.number != static_cast<long>(read)) Fail("record numbered " + std::to_string(r.number));
      if (r.line != want.line)
        Fail("record " + std::to_string(read) + " on line " + std::to_string(r.line) + ", expected " +
             std::to_string(want.line));
      if (r.fields.count != want.values.size()) Fail("record " + std::to_string(read) + ": field count differs");
      for (size_t i = 0; i < r.fields.count; ++i) {
        if (r.fields.all[i].name != expected.header[i]) Fail("a field's name differs from the header's");
        if (!r.fields.all[i].value.isText() || r.fields.all[i].value.asText() != want.values[i])
          Fail("record " + std::to_string(read) + ", field " + std::to_string(i + 1) + " differs");
      }
    }
  } catch (const tool::DataError& e) {
    if (e.status != tool::kExitUsage) Fail("a refusal with status " + std::to_string(e.status));
    refused = true;
  }
  if (refused != expected.refused)
    Fail(refused ? "refused what the independent reading takes" : "took what the independent reading refuses");
  if (read != expected.records.size()) Fail("fewer records than the independent reading");
  if (!refused && reader.header() != expected.header) Fail("the header differs");
  size_t breaks = 0;
  for (char c : bytes) breaks += c == '\n';
  if (read > breaks + 1) Fail("more records than line breaks plus one");
  return 0;
}
