// merge_writer.cpp: a mail merge's results written in record order: to standard output between separators, or each to its file.
#include "merge_writer.h"

#include <filesystem>

#include "text_io.h"

namespace moravel::tool {

MergeWriter::MergeWriter(const NamePattern* pattern, std::string separator, bool unicode)
    : pattern_(pattern), separator_(std::move(separator)), unicode_(unicode) {
  if (pattern_) return;
  out_.emplace("");
  out_->buffer();
}

void MergeWriter::claim(const std::string& name, const std::string& where) {
  if (pattern_ && pattern_->namesByValue() && !files_.insert(hashOf(name)).second)
    throw Failure{kExitUsage, where + ": " + name + " is named by an earlier record too; not written again"};
}

void MergeWriter::write(const Text& text, const std::string& name, const std::string& dirs, const std::string& where) {
  claim(name, where);
  try {
    if (pattern_) {
      makeDirectories(dirs, madeDirs_);
      Output file(name);
      writeText(text, unicode_, file);
      file.commit();
    } else {
      if (written_ > 0) out_->write(separator_.data(), separator_.size());
      writeText(text, unicode_, *out_);
    }
  } catch (const OutputError& e) {
    throw Failure{kExitCantCreate, e.what()};
  }
  ++written_;
}

void MergeWriter::writeBytes(const std::string& bytes) {
  try {
    if (written_ > 0) out_->write(separator_.data(), separator_.size());
    out_->write(bytes.data(), bytes.size());
  } catch (const OutputError& e) {
    throw Failure{kExitCantCreate, e.what()};
  }
  ++written_;
}

void makeDirectories(const std::string& dirs, std::string& made) {
  if (dirs.empty() || dirs == made) return;
  std::error_code ec;
  std::filesystem::create_directories(dirs, ec);
  if (ec) throw OutputError(dirs + ": cannot make the output's directory: " + ec.message());
  made = dirs;
}

void MergeWriter::flush() {
  try {
    if (out_) out_->flush();
  } catch (const OutputError&) {
    // The failure being reported is the one that ends the run.
  }
}

void MergeWriter::finish() {
  if (!out_) return;
  try {
    out_->commit();
  } catch (const OutputError& e) {
    throw Failure{kExitCantCreate, e.what()};
  }
}

}  // namespace moravel::tool
