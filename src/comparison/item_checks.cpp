#include "comparison/item_checks.h"

#include <algorithm>

#include "hashing/hash.h"
#include "runtime/error_text.h"
#include "runtime/handle.h"
#include "runtime/time_units.h"

#include <aclapi.h>

namespace {

SecurityCheckFunction g_pfnSecurityCheck = CheckOwnerAndDacl;

}  // namespace

bool IsDateGapAccepted(ULONGLONG nGap, ULONGLONG nTolerance, unsigned nShiftHours) {
    // The nearest whole number of hours is the gap's whole hours or the hour
    // after them, both taken without any product that could overflow.
    constexpr ULONGLONG kHour = UNITS_PER_HOUR;
    const ULONGLONG nShifts = nShiftHours;
    const ULONGLONG nHours = nGap / kHour;
    const ULONGLONG nPastHour = nGap % kHour;
    const ULONGLONG nOffShift =
        nHours >= nShifts ? nGap - nShifts * kHour : std::min(nPastHour, kHour - nPastHour);
    return nOffShift <= nTolerance;
}

int CheckOwnerAndDacl(const wchar_t* pszPath) {
    PSID pOwner = nullptr;
    PACL pDacl = nullptr;
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    const DWORD dwResult = ::GetNamedSecurityInfoW(
        pszPath, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &pOwner,
        nullptr, &pDacl, nullptr, &pDescriptor);
    CLocalMemory descriptor(pDescriptor);
    if (dwResult != ERROR_SUCCESS) {
        return HResultFromWin32(OpenFailureReason(dwResult));
    }
    return (pOwner == nullptr || pDacl == nullptr) ? 1 : 0;
}

void SetSecurityCheck(SecurityCheckFunction pfnCheck) {
    g_pfnSecurityCheck = pfnCheck != nullptr ? pfnCheck : CheckOwnerAndDacl;
}

int CheckSecurity(const wchar_t* pszPath) {
    return g_pfnSecurityCheck(pszPath);
}

CItemFacts RootFacts(const std::wstring& strRoot) {
    CItemFacts facts;
    WIN32_FILE_ATTRIBUTE_DATA data;
    // With its final backslash, a drive root too.
    if (::GetFileAttributesExW((strRoot + L"\\").c_str(), GetFileExInfoStandard, &data)) {
        facts.bPresent = true;
        facts.ftLastWrite = data.ftLastWriteTime;
    }
    return facts;
}
