#include "sides/spill_file.h"

#include <algorithm>
#include <cstring>

CSpillWriter::CSpillWriter(HANDLE hFile, size_t cbBlock) : m_hFile(hFile), m_cbBlock(cbBlock) {
    m_block.reserve(cbBlock);
}

BOOL CSpillWriter::Add(const void* pData, size_t cb) {
    m_block.append(static_cast<const char*>(pData), cb);
    return m_block.size() < m_cbBlock ? TRUE : Flush();
}

BOOL CSpillWriter::Flush() {
    if (m_block.empty()) {
        return TRUE;
    }
    const DWORD cb = static_cast<DWORD>(m_block.size());
    DWORD cbWritten = 0;
    const BOOL bOk = ::WriteFile(m_hFile, m_block.data(), cb, &cbWritten, nullptr);
    m_block.clear();
    if (bOk && cbWritten != cb) {
        ::SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    return bOk;
}

CSpillReader::CSpillReader(HANDLE hFile, uint64_t nLimit, size_t cbBlock)
    : m_hFile(hFile),
      m_nLimit(nLimit),
      m_block(static_cast<size_t>(std::min<uint64_t>(nLimit, cbBlock))) {}

DWORD CSpillReader::Read(void* pData, size_t cb) {
    char* p = static_cast<char*>(pData);
    while (cb > 0) {
        if (m_nPos == m_nEnd) {
            m_nOffset += m_nEnd;
            m_nPos = m_nEnd = 0;
            const uint64_t nLeft = m_nLimit > m_nOffset ? m_nLimit - m_nOffset : 0;
            const DWORD cbWanted = static_cast<DWORD>(std::min<uint64_t>(nLeft, m_block.size()));
            DWORD cbRead = 0;
            if (cbWanted != 0 && !::ReadFile(m_hFile, m_block.data(), cbWanted, &cbRead, nullptr)) {
                return ::GetLastError();
            }
            if (cbRead == 0) {
                return ERROR_HANDLE_EOF;
            }
            m_nEnd = cbRead;
        }
        const size_t cbCopied = std::min(cb, m_nEnd - m_nPos);
        std::memcpy(p, m_block.data() + m_nPos, cbCopied);
        m_nPos += cbCopied;
        p += cbCopied;
        cb -= cbCopied;
    }
    return ERROR_SUCCESS;
}

DWORD CSpillReader::Seek(uint64_t nOffset) {
    if (nOffset >= m_nOffset && nOffset < m_nOffset + m_nEnd) {
        m_nPos = static_cast<size_t>(nOffset - m_nOffset);
        return ERROR_SUCCESS;
    }
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(nOffset);
    if (!::SetFilePointerEx(m_hFile, position, nullptr, FILE_BEGIN)) {
        return ::GetLastError();
    }
    m_nOffset = nOffset;
    m_nPos = m_nEnd = 0;
    return ERROR_SUCCESS;
}
