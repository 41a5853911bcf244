// The schedule file, read as the channel file is; the input is the file's
// bytes. Loading gives the lines of the reference reader in file order, as C
// strings (so that nothing behind a NUL was read), and closes the file again
// (a missing file gives nothing); saving writes exactly those lines with CR
// LF and leaves no temporary file, and a saved list loads back unchanged
// whenever every line can come back.
#include <utility>

#include "core/schedule_file.h"
#include "tests/fuzz/fuzz_model.h"

using namespace quorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const char* path = "Q.ini";
  fakes::FakeWorld world;
  world.disk[path] = fuzz::Bytes(data, size);
  LoadScheduleFile(world, world, path);
  ReadLinesInto(world, world, "MISSING.TXT");
  PROPERTY(world.lines == fuzz::ModelLines(fuzz::Bytes(data, size)) && world.openCount == 0);

  std::string joined;
  bool fits = true;  // every line leaves room for its CR LF within one read
  for (const std::string& line : world.lines) {
    joined += line + "\r\n";
    fits = fits && line.size() + 2 <= 1023;
  }
  PROPERTY(SaveScheduleFile(world, world, path));
  PROPERTY(world.disk.size() == 1 && world.disk[path] == joined);

  // A first line that itself starts with the bytes of a UTF-8 byte-order mark
  // comes back without them, since the reader skips a mark at the start of
  // the file (corpus case first-line-starting-with-bom-comes-back-without-it).
  // No code page 932 text holds EF BB, so only a hand-edited file gets there.
  const std::vector<std::string> saved = std::exchange(world.lines, {});
  LoadScheduleFile(world, world, path);
  PROPERTY(!fits || joined.starts_with("\xEF\xBB\xBF") || world.lines == saved);
  return 0;
}
