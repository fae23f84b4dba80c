// The vis encoding (flag VIS_NOSLASH) that glibc lacks: non-printing characters shown as
// ^X, M-x, M^X or \ooo, blanks, tabs and newlines passed unchanged, no backslash doubling.
#pragma once

#include <cstddef>
#include <string>

/// Appends the encoding of len bytes of src to out. Multibyte characters of the current
/// locale are decoded first; after the first byte that does not decode, every further byte
/// is encoded on its own.
void strvis_noslash(std::string& out, const char* src, std::size_t len);

/// Appends the encoding of one byte to out.
void vis_noslash(std::string& out, unsigned char c);
