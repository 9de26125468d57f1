// One line of a snapshot read as a JSON object: the grammar is RapidJSON's
// (its event interface, with its own UTF-8 validation), what is kept of the
// events and what is refused beyond the grammar are the program's.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// A JSON value of a line: a member of its object, or of an object inside it.
// Its texts lie in the line's own copy, valid until the next line is read.
struct CJsonValue {
    enum class Kind { Null, Boolean, Integer, Number, Text, Texts, Object, Array };
    Kind kind = Kind::Null;
    bool b = false;
    bool bNegative = false;  // Integer: the value is -u
    unsigned long long u = 0;
    std::string_view str;                 // Text, UTF-8
    std::vector<std::string_view> texts;  // Texts: an array of texts only, UTF-8
};

// One line read as a JSON object, without building a document: the members
// of the object and those of the objects inside it (named by their parent),
// deeper values checked and left out. The line is copied and its texts read
// in place there, so that no text is copied again. Reused from line to line.
class CSnapshotLine {
public:
    CSnapshotLine();
    ~CSnapshotLine();
    CSnapshotLine(const CSnapshotLine&) = delete;
    CSnapshotLine& operator=(const CSnapshotLine&) = delete;

    // Reads the cb bytes at p. Returns null, or what is wrong (a sentence
    // ending with a period): not one JSON object, not UTF-8 text (a
    // surrogate escaped alone too), nested deeper than kMaxDepth, or an
    // object holding a key twice. The time taken grows with the line's
    // length alone, whatever its keys; the stack does not grow with its
    // nesting.
    const wchar_t* Parse(const char* p, size_t cb);
    // The member pszName of the line's object, or of its member pszParent;
    // null when there is none.
    const CJsonValue* Find(const char* pszName, const char* pszParent = nullptr) const;

    // Nesting deeper than this (objects and arrays) is no snapshot's.
    static constexpr size_t kMaxDepth = 32;

private:
    class CHandler;
    struct CParser;

    struct CMember {
        int nParent;  // the member holding it, -1 for the line's object
        std::string_view strKey;
        CJsonValue value;
    };

    // The keys of one open object: compared one by one while they are few,
    // looked up in a hash set once they are many.
    class CKeySet {
    public:
        void Clear();
        // False when the key is in the set already.
        bool Add(std::string_view key);

    private:
        std::vector<std::string_view> m_keys;
        std::unordered_set<std::string_view> m_index;
    };

    // An open object or array: whether it is an object, and the member
    // whose value it is (kept), or -1 for the line's object, or kNotKept.
    struct CFrame {
        bool bObject;
        int nMember;
    };
    static constexpr int kNotKept = -2;

    int IndexOf(const char* pszName, int nParent) const;

    std::vector<CMember> m_members;  // reused: m_nUsed of them are the line's
    size_t m_nUsed = 0;
    std::vector<CFrame> m_frames;
    std::vector<CKeySet> m_keySets;  // one per depth of open objects
    std::unique_ptr<CParser> m_pParser;
    std::vector<char> m_text;  // the line, a zero byte after it, read in place
};
