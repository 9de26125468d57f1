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

// Whether the wildcard text holds a backslash, so that at least one of its
// wildcards names a path rather than a name.
bool HasPathWildcard(const wchar_t* pszWildcard);

// True when the item at pszPath, a display path ("\src\obj\x.pdb": from the
// roots, beginning with a backslash), matches the wildcard text, by the
// rules and within the time bound of MatchWildcard. Each wildcard of the
// text decides by its form: one without a backslash is matched against the
// item's name (the part after the last backslash), as MatchWildcard; one
// that begins with a backslash against the whole display path, anchored at
// the roots ("\docs\*.tmp"); any other one with a backslash against the
// path from the roots or any part of it that follows a backslash, so that
// it matches at any depth ("obj\*.pdb" matches "\src\obj\x.pdb"). As
// everywhere in a wildcard, "*" matches any run of characters, backslashes
// included. False when either argument is null.
bool MatchPathWildcard(const wchar_t* pszPath, const wchar_t* pszWildcard);
