// The bounded reading of a text file line by line, which every reader of a
// side's file shares: no line is held beyond the longest that may be read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/checksum.h"
#include "runtime/platform.h"

// The bytes read from the file at a time.
constexpr size_t kLineReadSize = 64 * 1024;

// Reads a file line by line, in blocks; a line is handed out where it lies
// in the buffer, which holds the longest line that may be read (a
// snapshot's or a manifest's). The bytes
// of the lines handed out are summed a block at a time, as they leave the
// buffer, so that the checksum costs no more per line than a comparison.
class CLineReader {
public:
    enum class Result { Line, End, TooLong, Failed };

    // Reads hFile (owned by the caller) from where it stands; no line longer
    // than cbLongest bytes is ever held.
    CLineReader(HANDLE hFile, size_t cbLongest)
        : m_hFile(hFile), m_buffer(cbLongest + kLineReadSize) {}

    // The next line, without its end (a line feed, a carriage return before
    // it too), when it is at most cbMax bytes long; TooLong as soon as it is
    // known to be longer; Failed with GetError set.
    Result Next(size_t cbMax, const char*& pLine, size_t& cbLine) {
        size_t nSearched = m_nPos;
        for (;;) {
            const char* const pStart = m_buffer.data() + m_nPos;
            const void* const pFeed =
                std::memchr(m_buffer.data() + nSearched, '\n', m_nEnd - nSearched);
            if (pFeed != nullptr || (m_bEnd && m_nEnd > m_nPos)) {
                const char* const pLineEnd =
                    pFeed != nullptr ? static_cast<const char*>(pFeed) : m_buffer.data() + m_nEnd;
                cbLine = pLineEnd - pStart;
                m_nLine = m_nPos;
                m_nPos += cbLine + (pFeed != nullptr ? 1 : 0);
                if (cbLine != 0 && pStart[cbLine - 1] == '\r') {
                    --cbLine;
                }
                pLine = pStart;
                return cbLine > cbMax ? Result::TooLong : Result::Line;
            }
            if (m_nEnd - m_nPos > cbMax + 1) {
                return Result::TooLong;
            }
            if (m_bEnd) {
                return m_dwError == ERROR_SUCCESS ? Result::End : Result::Failed;
            }
            nSearched = m_nEnd - m_nPos;
            Fill();
        }
    }

    DWORD GetError() const { return m_dwError; }

    // The checksum of every byte of the file before the line handed out
    // last, but for a UTF-8 byte order mark at its start.
    uint64_t GetChecksumBefore() {
        SumUpTo(m_nLine);
        return m_checksum.Get();
    }

private:
    // Moves what is left of the buffer to its start and reads more after it;
    // the lines handed out leave it summed.
    void Fill() {
        SumUpTo(m_nPos);
        std::memmove(m_buffer.data(), m_buffer.data() + m_nPos, m_nEnd - m_nPos);
        m_nEnd -= m_nPos;
        m_nSummed -= m_nPos;
        m_nPos = 0;
        m_nLine = 0;
        const bool bStart = !m_bStarted;
        m_bStarted = true;
        DWORD cbRead = 0;
        if (!::ReadFile(m_hFile, m_buffer.data() + m_nEnd,
                        static_cast<DWORD>(m_buffer.size() - m_nEnd), &cbRead, nullptr)) {
            m_dwError = ::GetLastError();
            m_bEnd = true;
            return;
        }
        m_nEnd += cbRead;
        m_bEnd = cbRead == 0;
        static const char kByteOrderMark[] = "\xEF\xBB\xBF";
        if (bStart && m_nEnd >= 3 && std::memcmp(m_buffer.data(), kByteOrderMark, 3) == 0) {
            m_nSummed = 3;
        }
    }

    // Adds the bytes of the buffer from the last summed up to nEnd.
    void SumUpTo(size_t nEnd) {
        if (nEnd > m_nSummed) {
            m_checksum.Add(m_buffer.data() + m_nSummed, nEnd - m_nSummed);
            m_nSummed = nEnd;
        }
    }

    HANDLE m_hFile;
    std::vector<char> m_buffer;
    size_t m_nPos = 0;
    size_t m_nEnd = 0;
    size_t m_nLine = 0;    // where the line handed out last begins
    size_t m_nSummed = 0;  // the buffer's bytes before it are in the checksum
    bool m_bStarted = false;
    bool m_bEnd = false;
    DWORD m_dwError = ERROR_SUCCESS;
    CChecksum m_checksum;
};
