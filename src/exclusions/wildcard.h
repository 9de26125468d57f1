// The wildcard matcher of the exclusion lists.
#pragma once

#include "runtime/platform.h"

// True when the bare name pszName matches the wildcard text pszWildcard,
// with the answers of the shell's PathMatchSpecW but in time proportional
// to the name's length times the wildcard's at worst (the shell's matcher
// backtracks without bound: "*a*a*a*a*a*a*a*a*b" against a long name takes
// minutes there). The rules:
// - a wildcard text equal to "*.*" for lstrcmpW matches every name, also
//   one without a dot;
// - otherwise the text is a list of wildcards separated by ";", each with
//   its leading blanks (spaces only) dropped; the name matches when one of
//   them matches it whole; an empty wildcard matches only an empty name,
//   and an empty text matches nothing;
// - in a wildcard, "*" matches any run of characters, "?" any one
//   character, and every other character (blanks after the first included)
//   itself in either case, as the platform folds case one UTF-16 unit at a
//   time; the name's characters, ";" and "\" included, are all plain.
// False when either argument is null.
bool MatchWildcard(const wchar_t* pszName, const wchar_t* pszWildcard);
