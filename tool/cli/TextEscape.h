// Device texts made safe for what kestctl writes them into. A device's
// version or date is any bytes: not always UTF-8, and possibly terminal
// control sequences (ESC[31m) that would recolour or rewrite the engineer's
// screen.
#pragma once

#include <string>

// The text as the inside of a JSON string, always valid UTF-8: quotes,
// backslashes and every control character (C0, DEL and C1) escaped; each byte
// that is not part of a valid UTF-8 sequence replaced by \ufffd.
std::string jsonEscape(const std::string& text);

// The text for a terminal: control characters shown as \xHH (C0 and DEL) or
// \u00HH (C1), and bytes that are not valid UTF-8 as \xHH; everything else
// (Chinese texts included) as it is.
std::string terminalText(const std::string& text);

// The same for a text of several lines: each line end ("\n" or "\r\n")
// stays a line end.
std::string terminalLines(const std::string& text);
