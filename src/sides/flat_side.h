// A folder or a snapshot seen as a checksum manifest sees a tree: every file
// below the root in one list, named by its path below the root, with no
// folder as such. It stands for the other side of a comparison with a
// manifest, so that files pair by their paths and a folder that one side
// lacks makes each of its files missing.
#pragma once

#include <memory>
#include <string>

#include "sides/tree_side.h"

class CFlatSide : public CTreeSide {
public:
    explicit CFlatSide(std::unique_ptr<CTreeSide> pInner) : m_pInner(std::move(pInner)) {}

    const std::wstring& GetRoot() const override { return m_pInner->GetRoot(); }
    // For the root (strFolder, the inner side's root): the files of the root
    // and, when pFolders is given (the comparison takes subfolders), of every
    // folder below it, depth first, each named "a\b\c.txt", in the inner
    // side's order, its recorded facts with it; links to folders are not
    // entered. A folder below the root that cannot be listed for a reason
    // that leaves it inaccessible (IsListingInaccessible) goes to
    // unaddressable.folders with its code; any other failure is returned.
    // pFolders stays empty.
    DWORD List(const std::wstring& strFolder, const std::wstring& strRelative, CItemList& files,
               CItemList* pFolders, CUnaddressable& unaddressable,
               CExcludedCounts& counts) override;
    DWORD Probe(const std::wstring& strFolder) override { return m_pInner->Probe(strFolder); }
    bool IsRecorded() const override { return m_pInner->IsRecorded(); }

private:
    const std::unique_ptr<CTreeSide> m_pInner;
};
