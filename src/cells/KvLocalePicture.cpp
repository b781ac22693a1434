#include "cells/KvLocalePicture.h"

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Appends literal text so that FormatDateTime copies it as it is: letters and the
// program's own separator marks go inside double quotes.
void AppendLiteral(std::string& out, std::string_view text) {
  bool quoted = false;
  for (char c : text) {
    const bool special = IsAsciiLetter(c) || c == '/' || c == ':' || c == '\'';
    if (c == '"') {
      // A double quote cannot be written inside the program's quotes; it is dropped.
      continue;
    }
    if (special && !quoted) {
      out += '"';
      quoted = true;
    } else if (!special && quoted) {
      out += '"';
      quoted = false;
    }
    out += c;
  }
  if (quoted) out += '"';
}

}  // namespace

std::string ConvertLocalePicture(std::string_view picture, char placeholder, char& separator,
                                 bool& twelveHour) {
  std::string out;
  twelveHour = false;
  bool haveSeparator = false;
  std::size_t i = 0;
  const std::size_t n = picture.size();
  while (i < n) {
    const char c = picture[i];
    std::size_t run = 1;
    while (i + run < n && picture[i + run] == c) ++run;
    if (c == '\'') {
      // Quoted text; two quotes in a row stand for one quote.
      std::string text;
      std::size_t j = i + 1;
      while (j < n) {
        if (picture[j] == '\'') {
          if (j + 1 < n && picture[j + 1] == '\'') {
            text += '\'';
            j += 2;
            continue;
          }
          break;
        }
        text += picture[j++];
      }
      AppendLiteral(out, text);
      i = j + 1;
      continue;
    }
    switch (c) {
      case 'd':
        if (run >= 3) {
          // A day name: left out, with the punctuation and blanks after it.
          i += run;
          while (i < n && !IsAsciiLetter(picture[i]) && picture[i] != '\'') ++i;
          continue;
        }
        out.append(run, 'd');
        break;
      case 'M':
        out.append(run > 4 ? 4 : run, 'm');
        break;
      case 'y':
        out += "yyyy";
        break;
      case 'g':
        i += run;
        while (i < n && !IsAsciiLetter(picture[i]) && picture[i] != '\'') ++i;
        continue;
      case 'h':
        twelveHour = true;
        out.append(run >= 2 ? 2 : 1, 'h');
        break;
      case 'H':
        out.append(run >= 2 ? 2 : 1, 'h');
        break;
      case 'm':
        out.append(run >= 2 ? 2 : 1, 'n');
        break;
      case 's':
        out.append(run >= 2 ? 2 : 1, 's');
        break;
      case 't':
        twelveHour = true;
        out += "ampm";
        break;
      default:
        if (!haveSeparator && (c == '.' || c == '-' || c == '/' || c == ':')) {
          separator = c;
          haveSeparator = true;
        }
        if (haveSeparator && c == separator)
          out.append(run, placeholder);
        else
          AppendLiteral(out, picture.substr(i, run));
        break;
    }
    i += run;
  }
  return out;
}
