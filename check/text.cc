#include "check/text.h"

#include <cstdint>

namespace launcher::check {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHexByte(std::string& out, unsigned char byte) {
  out += "\\x";
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 0xF];
}

// The length of the valid UTF-8 sequence at the start of `text` (1 to 4) and its code point in
// `code`, or 0 when the bytes there are not valid UTF-8 (overlong forms, surrogates and code
// points above U+10FFFF are not).
std::size_t DecodeUtf8(std::string_view text, char32_t& code) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

// Characters that show as nothing or as a blank: C1 controls, Unicode's spaces and its
// zero-width, joining, direction and variation characters, the byte-order mark, and tags.
bool IsInvisible(char32_t code) {
  static constexpr struct {
    char32_t first;
    char32_t last;
  } kRanges[] = {{0x0080, 0x00A0}, {0x00AD, 0x00AD},  {0x034F, 0x034F}, {0x061C, 0x061C},
                 {0x115F, 0x1160}, {0x1680, 0x1680},  {0x17B4, 0x17B5}, {0x180B, 0x180E},
                 {0x2000, 0x200F}, {0x2028, 0x202F},  {0x205F, 0x206F}, {0x3000, 0x3000},
                 {0x3164, 0x3164}, {0xFE00, 0xFE0F},  {0xFEFF, 0xFEFF}, {0xFFA0, 0xFFA0},
                 {0xFFF0, 0xFFFB}, {0xE0000, 0xE0FFF}};
  for (const auto& range : kRanges) {
    if (code >= range.first && code <= range.last) return true;
  }
  return false;
}

// Characters that change what a terminal does or in which direction it shows the text after
// them: the C1 controls, the bidirectional marks, embeddings, overrides and isolates, and the
// line and paragraph separators.
bool ControlsTheTerminal(char32_t code) {
  return (code >= 0x80 && code <= 0x9F) || code == 0x061C || code == 0x200E || code == 0x200F ||
         (code >= 0x2028 && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

// \u{XXXX}, with four or five hexadecimal digits.
void AppendCode(std::string& out, char32_t code) {
  out += "\\u{";
  const std::size_t digits = code > 0xFFFF ? 5 : 4;
  for (std::size_t i = digits; i-- > 0;) out += kHexDigits[(code >> (4 * i)) & 0xF];
  out += '}';
}

bool IsBlankCode(char32_t code) {
  return code == ' ' || code == '\t' || (code >= 0x80 && IsInvisible(code));
}

// What a byte sequence is, as Visible and ShellWord see it.
enum class Piece { kPlain, kControl, kInvalid, kInvisible };

// Classifies the piece at the start of `text` and gives its length in bytes.
Piece NextPiece(std::string_view text, std::size_t& length, char32_t& code) {
  const auto byte = static_cast<unsigned char>(text[0]);
  if (byte < 0x20 || byte == 0x7F) {
    length = 1;
    code = byte;
    return Piece::kControl;
  }
  length = DecodeUtf8(text, code);
  if (length == 0) {
    length = 1;
    return Piece::kInvalid;
  }
  return IsInvisible(code) ? Piece::kInvisible : Piece::kPlain;
}

bool NeedsNoQuoting(std::string_view word) {
  if (word.empty()) return false;
  for (char c : word) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      std::string_view("_@%+=:,./-").find(c) != std::string_view::npos;
    if (!safe) return false;
  }
  return true;
}

}  // namespace

std::string Visible(std::string_view value, std::size_t max_bytes) {
  std::string out = "\"";
  std::size_t shown = 0;
  while (shown < value.size() && shown < max_bytes) {
    std::size_t length = 0;
    char32_t code = 0;
    const std::string_view rest = value.substr(shown);
    switch (NextPiece(rest, length, code)) {
      case Piece::kControl:
        if (code == '\t') {
          out += "\\t";
        } else if (code == 0) {
          out += "\\0";
        } else {
          AppendHexByte(out, static_cast<unsigned char>(code));
        }
        break;
      case Piece::kInvalid:
        AppendHexByte(out, static_cast<unsigned char>(rest[0]));
        break;
      case Piece::kInvisible:
        AppendCode(out, code);
        break;
      case Piece::kPlain:
        if (rest[0] == '"' || rest[0] == '\\') out += '\\';
        out.append(rest.substr(0, length));
        break;
    }
    shown += length;
  }
  out += '"';
  if (shown < value.size()) out += "... (" + std::to_string(value.size()) + " bytes)";
  return out;
}

std::string ShellWord(std::string_view word) {
  if (word.empty()) return "''";
  if (NeedsNoQuoting(word)) return std::string(word);
  bool visible = true;
  for (std::size_t at = 0, length = 0; visible && at < word.size(); at += length) {
    char32_t code = 0;
    visible = NextPiece(word.substr(at), length, code) == Piece::kPlain;
  }
  if (visible) {
    // Plain single quotes, in which only the quote itself needs care.
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string_view("'\\''") : std::string_view(&c, 1);
    return quoted + "'";
  }
  std::string quoted = "$'";
  for (std::size_t at = 0, length = 0; at < word.size(); at += length) {
    char32_t code = 0;
    const std::string_view rest = word.substr(at);
    if (NextPiece(rest, length, code) == Piece::kPlain) {
      if (rest[0] == '\'' || rest[0] == '\\') quoted += '\\';
      quoted.append(rest.substr(0, length));
    } else {
      for (char byte : rest.substr(0, length))
        AppendHexByte(quoted, static_cast<unsigned char>(byte));
    }
  }
  return quoted + "'";
}

std::string ShortWord(std::string_view word, std::size_t max_bytes) {
  if (word.size() <= max_bytes) return ShellWord(word);
  return ShellWord(word.substr(0, max_bytes)) + "...(" + std::to_string(word.size()) + " bytes)";
}

std::string Printable(std::string_view line, std::size_t max_bytes) {
  std::string out;
  std::size_t shown = 0;
  while (shown < line.size() && shown < max_bytes) {
    std::size_t length = 0;
    char32_t code = 0;
    const std::string_view rest = line.substr(shown);
    switch (NextPiece(rest, length, code)) {
      case Piece::kControl:
        if (code == '\t') {
          out += '\t';
        } else {
          AppendHexByte(out, static_cast<unsigned char>(code));
        }
        break;
      case Piece::kInvalid:
        AppendHexByte(out, static_cast<unsigned char>(rest[0]));
        break;
      case Piece::kInvisible:
      case Piece::kPlain:
        if (ControlsTheTerminal(code)) {
          AppendCode(out, code);
        } else {
          out.append(rest.substr(0, length));
        }
        break;
    }
    shown += length;
  }
  if (shown < line.size()) out += "... (" + std::to_string(line.size()) + " bytes)";
  return out;
}

bool BeginsWithBlank(std::string_view value) {
  if (value.empty()) return false;
  char32_t code = 0;
  return DecodeUtf8(value, code) != 0 && IsBlankCode(code);
}

bool EndsWithBlank(std::string_view value) {
  // The last character starts at most four bytes from the end, at a byte that does not continue
  // a sequence.
  for (std::size_t back = 1; back <= 4 && back <= value.size(); ++back) {
    const std::string_view last = value.substr(value.size() - back);
    if ((static_cast<unsigned char>(last[0]) & 0xC0) == 0x80) continue;
    char32_t code = 0;
    return DecodeUtf8(last, code) == back && IsBlankCode(code);
  }
  return false;
}

bool HoldsControlByte(std::string_view value) {
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return true;
  }
  return false;
}

}  // namespace launcher::check
