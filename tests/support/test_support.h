// Helpers shared by the unit and end-to-end tests: temporary folders that
// remove themselves, files with chosen contents and times, and child
// processes whose standard output is captured byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/platform.h"

namespace test {

// A unique folder under the system's temporary folder, removed with all its
// contents when the object is destroyed (also when a test fails).
class CTempFolder {
public:
    // Under strParent instead when it is given (a file system of a chosen kind).
    explicit CTempFolder(const std::wstring& strParent = std::wstring());
    ~CTempFolder();
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const std::wstring& Path() const { return m_strPath; }
    // Path() + "\" + relative.
    std::wstring operator/(const std::wstring& strRelative) const;

private:
    std::wstring m_strPath;
};

// Removes a folder and everything below it; true when it is gone.
bool RemoveTree(const std::wstring& strPath);

// Creates a folder and its missing parents (plain or \\?\ paths).
void MakeFolder(const std::wstring& strPath);
// Writes a file with the given bytes, creating missing parent folders.
void MakeFile(const std::wstring& strPath, const std::string& strBytes = std::string());
// Sets a file's last-write time (FILETIME units).
void SetLastWriteTime(const std::wstring& strPath, uint64_t nTime);
uint64_t GetLastWriteTime(const std::wstring& strPath);
// Reads a whole file.
std::string ReadWholeFile(const std::wstring& strPath);

// The folder that holds the running test program (and quorva.exe).
std::wstring GetProgramFolder();
// The full path of the built quorva.exe.
std::wstring GetQuorvaPath();

struct CRunResult {
    DWORD dwExitCode = 0;
    std::string strOutput;  // standard output, byte for byte
};

// Runs a program with a command line (arguments quoted by the caller), in
// a working folder (empty: the current one), with extra environment
// variables "NAME=value" added to the current environment.
CRunResult RunProgram(const std::wstring& strProgram, const std::wstring& strArguments,
                      const std::wstring& strWorkingFolder = std::wstring(),
                      const std::vector<std::wstring>& environment = {});

// Runs quorva.exe with the given arguments.
CRunResult RunQuorva(const std::wstring& strArguments,
                     const std::wstring& strWorkingFolder = std::wstring(),
                     const std::vector<std::wstring>& environment = {});

// Quotes one argument for a command line.
std::wstring Quote(const std::wstring& strArgument);

// The text as the program writes it in its default (8-bit) mode: every
// line feed becomes CR LF, every character becomes the byte of its code.
std::string Crlf(const std::wstring& strText);
std::string Crlf(const std::string& strText);

// UTF-16 little-endian and UTF-8 bytes of a text, without a mark.
std::string Utf16LeBytes(const std::wstring& strText);
std::string Utf8Bytes(const std::wstring& strText);

// UTF-16 little-endian and UTF-8 bytes of a text, line feeds as CR LF.
std::string Utf16Crlf(const std::wstring& strText);
std::string Utf8Crlf(const std::wstring& strText);

// Runs a Unix command line (program and arguments, quoted as Quote does)
// through Wine's start.exe, which does not wait for it: callers wait for its
// effect themselves.
void RunUnixCommand(const std::wstring& strCommandLine);
// Changes the Unix permission bits of a file or folder (mode as chmod
// takes it, e.g. L"000"), through Wine's start.exe /unix. Only an
// unprivileged user is denied by mode 000: root reads everything.
void ChangeUnixMode(const std::wstring& strPath, const std::wstring& strMode);
// Makes a Unix symbolic link at strLink that points to strTarget (as ln -s
// takes it, for example ".." or a Unix path), through start.exe /unix, and
// waits until the link can be seen.
void MakeUnixSymlink(const std::string& strTarget, const std::wstring& strLink);
// Removes files through Unix when it goes out of scope, and waits until
// they are gone: under Wine, DeleteFileW removes neither a named pipe nor a
// link to a device.
class CUnixRemoval {
public:
    explicit CUnixRemoval(std::vector<std::wstring> paths) : m_paths(std::move(paths)) {}
    ~CUnixRemoval();
    CUnixRemoval(const CUnixRemoval&) = delete;
    CUnixRemoval& operator=(const CUnixRemoval&) = delete;

private:
    std::vector<std::wstring> m_paths;
};
// Renames a file to strNewName in its folder through Unix, which can make
// names that differ only in case (Wine would open the existing file), and
// waits until the folder lists the new name.
void RenameThroughUnix(const std::wstring& strPath, const std::wstring& strNewName);
// The Unix path that a Windows path stands for under Wine.
std::wstring UnixPathOf(const std::wstring& strPath);

// True when the file can be opened for reading and writing without sharing:
// no handle to it is left open.
bool CanOpenExclusively(const std::wstring& strPath);

// The names of the files (not folders) that a wildcard pattern finds.
std::vector<std::wstring> ListFiles(const std::wstring& strPattern);

// Lists the temporary files whose names start with "quo" in the system's
// temporary folder (the listing cache files of the program).
std::vector<std::wstring> ListProgramTempFiles();

}  // namespace test
