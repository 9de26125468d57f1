// The system's description of a Win32 error code or an HRESULT, followed by
// the code itself, as the message writer shows it under an error line; and
// the two apart, the code as shown and the bare text, as the report writes
// them.
#pragma once

#include <string>

#include "runtime/platform.h"

// The code of the program's own (its customer bit set: never one of the
// system's) for a file whose size or last-write time, asked of its open
// handle after it was read, differ from its listing: it changed while it was
// read. It has no system text; the reports give it a text of their own.
constexpr DWORD FILE_CHANGED_WHILE_READ = 0x20000001;

// Whether a failure to read a file, or to list a folder below the roots,
// leaves that item inaccessible on its side while the comparison goes on: a
// denial, a file held by another program (open for writing, or locked), an
// item gone since its folder was listed, a name that is not a regular file,
// a name that Windows forbids (a Linux file system allows "?", "*", "|" and
// control characters: the platform lists such a name but opens or searches
// it as an invalid name or path), a file that changed while it was read.
// Any other failure (a device error, a lost network) stops the comparison.
bool IsInaccessible(DWORD dwError);

// Whether a failure to list the folder whose long path is strFolder leaves
// it inaccessible on its side (IsInaccessible), or is a path too long for the platform to list,
// which it tells as ERROR_FILENAME_EXCED_RANGE or, where the file system's own path limit is met
// (Wine turns a Unix path of more than 4,096 bytes into a general failure), as ERROR_GEN_FAILURE on
// a path that long.
bool IsListingInaccessible(DWORD dwError, const std::wstring& strFolder);

// Capacity, in characters including the terminator, of the buffer that
// GetSystemErrorText and ComposeSystemErrorText fill.
constexpr DWORD SYSTEM_ERROR_TEXT_CHARS = 256;

// Fills pszBuffer (SYSTEM_ERROR_TEXT_CHARS characters, caller-owned) with
// the system's text for dwCode in the user's default language, without its
// trailing line breaks and blanks, followed by the code: " (%d)" with the
// low 16 bits for a Win32 code (at most 0xFFFF) or an HRESULT of the Win32
// facility, else " (0x%08X)" with the whole code. Returns true when the
// buffer holds that text; false when the system has no text for the code
// (the buffer's content is then undefined) or pszBuffer is null (last error
// ERROR_INVALID_PARAMETER). Prints nothing.
// *pcchText, when given, receives the length of the text before the code.
bool GetSystemErrorText(DWORD dwCode, wchar_t* pszBuffer, size_t* pcchText = nullptr);

// The code as the program shows it: the low 16 bits of a Win32 code (at most
// 0xFFFF) or of an HRESULT of the Win32 facility, whatever its severity bit,
// so that 0x80070005 and 5 read the same; any other code whole.
DWORD ShownErrorCode(DWORD dwCode);

// strText := GetSystemErrorText's text for dwCode without the code behind it.
// False, with strText unchanged, when the system has no text for the code.
bool GetBareSystemErrorText(DWORD dwCode, std::wstring& strText);

// The second half of GetSystemErrorText: writes into pszBuffer
// (SYSTEM_ERROR_TEXT_CHARS characters) pszText without its trailing
// "\r\n\t " characters, followed by the code suffix. A text too long for the
// buffer together with the suffix is cut so that the whole suffix still
// fits. pszText may be pszBuffer itself. Returns the length of the text
// before the suffix.
size_t ComposeSystemErrorText(const wchar_t* pszText, DWORD dwCode, wchar_t* pszBuffer);
