#include "core/text_format.h"

namespace quorvane {
namespace {

class Writer {
 public:
  explicit Writer(std::span<char> buffer) : buffer_(buffer) {}
  void Put(char c) {
    if (length_ + 1 < buffer_.size()) buffer_[length_++] = c;
  }
  void Finish() {
    if (!buffer_.empty()) buffer_[length_] = '\0';
  }
  std::size_t length() const { return length_; }

 private:
  std::span<char> buffer_;
  std::size_t length_ = 0;
};

void PutNumber(Writer& out, int32_t value, int width, char pad) {
  // Unsigned magnitude so that INT32_MIN needs no special case.
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  char digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10u);
    magnitude /= 10u;
  } while (magnitude != 0);
  const int length = count + (value < 0 ? 1 : 0);
  if (value < 0 && pad == '0') out.Put('-');
  for (int i = length; i < width; ++i) out.Put(pad);
  if (value < 0 && pad != '0') out.Put('-');
  while (count > 0) out.Put(digits[--count]);
}

}  // namespace

std::size_t FormatText(std::span<char> buffer, const char* format,
                       std::initializer_list<FormatArg> args) {
  Writer out(buffer);
  const FormatArg* next = args.begin();
  for (const char* at = format; *at != '\0'; ++at) {
    if (*at != '%') {
      out.Put(*at);
      continue;
    }
    const char* conversion = at + 1;
    char pad = ' ';
    if (*conversion == '0') {
      pad = '0';
      ++conversion;
    }
    int width = 0;
    // Wider than any buffer is pointless; the cap also keeps the sum in range.
    constexpr int kWidestField = 1024;
    while (*conversion >= '0' && *conversion <= '9') {
      width = width * 10 + (*conversion++ - '0');
      if (width > kWidestField) width = kWidestField;
    }
    if (*conversion == 'd' || *conversion == 's') {
      if (next != args.end()) {
        if (*conversion == 'd') {
          PutNumber(out, next->number, width, pad);
        } else if (next->text != nullptr) {
          for (const char* text = next->text; *text != '\0'; ++text) out.Put(*text);
        }
        ++next;
      }
      at = conversion;
    } else if (*conversion == '%') {
      out.Put('%');
      at = conversion;
    } else {
      out.Put('%');  // not a conversion: kept as written
    }
    if (*at == '\0') break;
  }
  out.Finish();
  return out.length();
}

}  // namespace quorvane
