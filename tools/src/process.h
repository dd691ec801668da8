// process.h: what the tool sets up for its process: standard descriptors, signals, cleanup on a fatal fault.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace moravel::tool {

// Standard input, output or error that the caller closed is taken by
// /dev/null opened the other way round, so that reading or writing it fails
// as on a closed descriptor and no file the tool opens takes its number.
// A write beyond the file-size limit fails with an error instead of a signal.
void prepareProcess();

// While a mapped file is registered, a fault on its pages (the file was
// shortened under the mapping) ends the process with `message` on standard
// error and `status`, instead of a crash. One mapping at a time.
void guardMapping(const void* base, std::size_t size, const std::string& message, int status);
void unguardMapping(const void* base);

// A file removed if the process ends by such a fault or by SIGINT, SIGTERM
// or SIGHUP (a temporary output file), until forgotten; up to 32 at once
// (an empty name, or one beyond them, is not kept).
void removeOnAbort(const std::string& path);
void forgetOnAbort(const std::string& path);

// A worker process sent the signal that ends this one by SIGINT, SIGTERM
// or SIGHUP, until forgotten; forgetChildren() in a worker itself.
void endOnAbort(pid_t child);
void forgetChild(pid_t child);
void forgetChildren();

}  // namespace moravel::tool
