// The channel file read through a sink; the input is the file's bytes. The
// sink gets the reference reader's lines in file order, as C strings (so that
// nothing behind a NUL was read), and the file is closed again. A missing file
// gives nothing.
#include "core/schedule_file.h"
#include "tests/fuzz/fuzz_model.h"

using namespace quorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fakes::FakeWorld files;  // its list keeps the lines in the order given
  files.disk["CHANNEL.TXT"] = fuzz::Bytes(data, size);
  ReadLinesInto(files, files, "CHANNEL.TXT");
  ReadLinesInto(files, files, "MISSING.TXT");
  PROPERTY(files.lines == fuzz::ModelLines(fuzz::Bytes(data, size)) && files.openCount == 0);
  return 0;
}
