// The channel file read through a sink; the input is the file's bytes. The
// sink gets the reference reader's lines in file order, each shorter than the
// 1024-byte buffer, no more than one per two bytes (the last may take one),
// and the file is closed again. A missing file gives nothing.
#include "core/schedule_file.h"
#include "tests/fuzz/fuzz_model.h"

using namespace quorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  struct Box : LineSink {
    std::vector<std::string> items;
    void AddLine(const char* line) override { items.emplace_back(line); }
  } box;
  fakes::FakeWorld files;
  files.disk["CHANNEL.TXT"] = fuzz::Bytes(data, size);
  ReadLinesInto(box, files, "CHANNEL.TXT");
  // The sink sees C strings: equality also shows that nothing behind a NUL was read.
  PROPERTY(box.items == fuzz::ModelLines(fuzz::Bytes(data, size)));
  PROPERTY(box.items.size() <= size / 2 + 1 && files.openCount == 0);
  for (const std::string& item : box.items) PROPERTY(item.size() < 1024);
  ReadLinesInto(box, files, "MISSING.TXT");
  PROPERTY(box.items.size() == fuzz::ModelLines(fuzz::Bytes(data, size)).size());
  return 0;
}
