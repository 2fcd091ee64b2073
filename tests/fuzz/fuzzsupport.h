#pragma once

// Shared set-up of the fuzz targets: one application object per process, a
// scratch program directory (AppPaths points at it, with config/ inside) and
// the input written to a file there for the parsers that read a path.
//
// Log output is dropped, since the parsers log every problem they meet and a
// fuzzer feeds them little else; set LUMORY_FUZZ_LOG=1 to see it when
// replaying one input.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace fuzz {

// Creates the application object and the scratch directory. Call from
// LLVMFuzzerInitialize.
void init(int *argc, char ***argv);

// The scratch program directory (no trailing slash).
QString appDir();

// Writes `size` bytes to appDir() + "/" + relativePath, creating folders as
// needed, and returns the absolute path.
QString writeFile(const QString &relativePath, const uint8_t *data, size_t size);

// Forgets the problems reported by the previous input, so each input is
// judged on its own and the list does not grow from run to run.
void resetProblems();

} // namespace fuzz

// The entry points libFuzzer calls.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
