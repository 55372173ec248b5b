// Text for a person: values of init.ini with every byte that cannot be seen made visible, shell
// words that can be pasted and run, and lines of another program's output made safe to show.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace launcher::check {

// `value` between double quotes, with what cannot be seen written out: \\ and \" for the quote
// characters, \t for a tab, \0 for a NUL byte, \xNN for any other control byte and for every
// byte that is not part of valid UTF-8, and \u{XXXX} for a character that shows as nothing or
// as a blank (a byte-order mark, a no-break space, a zero-width space, ...). At most
// `max_bytes` bytes of the value are shown; a longer one is followed by "... (N bytes)".
std::string Visible(std::string_view value, std::size_t max_bytes = 300);

// `word` as one word of a POSIX shell command: as it is when it holds only characters that need
// no quoting, in single quotes when it holds nothing invisible, and otherwise in bash's $'...'
// with every byte that Visible would write out given as \xNN. An empty word is ''.
std::string ShellWord(std::string_view word);

// `word` as ShellWord gives it, for a sentence: a word longer than `max_bytes` is cut there and
// followed by "...(N bytes)".
std::string ShortWord(std::string_view word, std::size_t max_bytes = 200);

// A line of text from outside (another program's output, a name, an argument), safe to show on a
// terminal: control bytes other than the tab, and bytes that are not part of valid UTF-8, are
// written as \xNN; characters that control the terminal or the direction of the text (C1
// controls, bidirectional embeddings, overrides, isolates and marks, line and paragraph
// separators) as \u{XXXX}; everything else is kept. A line longer than `max_bytes` is cut there,
// once, and followed by "... (N bytes)".
inline constexpr std::size_t kShownLineBytes = 400;
std::string Printable(std::string_view line, std::size_t max_bytes = kShownLineBytes);

// Whether `value` begins, or ends, with a blank: a space, a tab or a blank-like character (see
// Visible).
bool BeginsWithBlank(std::string_view value);
bool EndsWithBlank(std::string_view value);

// Whether `value` holds a control byte other than the tab (NUL included).
bool HoldsControlByte(std::string_view value);

inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace launcher::check
