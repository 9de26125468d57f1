#include "sides/snapshot_line.h"

#include <cstdint>
#include <cstring>

#include <rapidjson/error/error.h>
#include <rapidjson/reader.h>

namespace {

using Kind = CJsonValue::Kind;

// The keys of an object are compared one by one up to this many.
constexpr size_t kLinearKeys = 16;

// Whether the cb bytes at p are ASCII, read four at a time.
bool IsAscii(const char* p, size_t cb) {
    uint32_t nBits = 0;
    size_t i = 0;
    for (; i + 4 <= cb; i += 4) {
        uint32_t nWord;
        std::memcpy(&nWord, p + i, 4);
        nBits |= nWord;
    }
    for (; i < cb; ++i) {
        nBits |= static_cast<unsigned char>(p[i]);
    }
    return (nBits & 0x80808080u) == 0;
}

// Whether UTF-8 text holds a surrogate (U+D800 to U+DFFF, encoded as 0xED
// followed by 0xA0 to 0xBF). RapidJSON refuses one in the file's bytes and a
// high surrogate escaped without its partner, but writes a low surrogate
// escaped alone ("\uDC00") as such bytes.
bool HoldsSurrogate(const char* p, size_t cb) {
    if (IsAscii(p, cb)) {
        return false;
    }
    for (size_t i = 0; i + 1 < cb; ++i) {
        if (static_cast<unsigned char>(p[i]) == 0xED &&
            static_cast<unsigned char>(p[i + 1]) >= 0xA0) {
            return true;
        }
    }
    return false;
}

}  // namespace

void CSnapshotLine::CKeySet::Clear() {
    m_keys.clear();
    if (!m_index.empty()) {
        // A fresh set: clearing one that held many keys would cost its
        // buckets on every later object.
        std::unordered_set<std::string_view>().swap(m_index);
    }
}

bool CSnapshotLine::CKeySet::Add(std::string_view key) {
    if (m_keys.size() < kLinearKeys) {
        for (const std::string_view& other : m_keys) {
            if (other == key) {
                return false;
            }
        }
        m_keys.push_back(key);
        if (m_keys.size() == kLinearKeys) {
            m_index.insert(m_keys.begin(), m_keys.end());
        }
        return true;
    }
    return m_index.insert(key).second;
}

// Turns the events of one line into its kept members; returns false, with
// what is wrong when it is more than the grammar, to stop the reading.
class CSnapshotLine::CHandler
    : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, CSnapshotLine::CHandler> {
public:
    explicit CHandler(CSnapshotLine& line) : m_line(line) {}

    const wchar_t* GetWrong() const { return m_pszWrong; }

    bool Null() { return Scalar(Kind::Null); }
    bool Bool(bool b) {
        CJsonValue* const pValue = Slot(Kind::Boolean);
        if (pValue != nullptr) {
            pValue->b = b;
        }
        return m_bRoot;
    }
    bool Int(int n) { return Integer(n < 0, n < 0 ? 0ULL - static_cast<long long>(n) : n); }
    bool Uint(unsigned n) { return Integer(false, n); }
    bool Int64(int64_t n) {
        return Integer(n < 0, n < 0 ? 0ULL - static_cast<unsigned long long>(n) : n);
    }
    bool Uint64(uint64_t n) { return Integer(false, n); }
    bool Double(double) { return Scalar(Kind::Number); }

    bool String(const char* p, rapidjson::SizeType cb, bool) {
        if (!m_bRoot) {
            return false;
        }
        if (HoldsSurrogate(p, cb)) {
            m_pszWrong = L"the line is not UTF-8 text.";
            return false;
        }
        CFrame& frame = m_line.m_frames.back();
        if (!frame.bObject) {
            if (frame.nMember >= 0) {
                m_line.m_members[frame.nMember].value.texts.emplace_back(p, cb);
            }
            return true;
        }
        CJsonValue* const pValue = Slot(Kind::Text);
        if (pValue != nullptr) {
            pValue->str = std::string_view(p, cb);
        }
        return true;
    }

    bool StartObject() {
        // The line's object keeps its members, and so does an object that
        // is the value of one of them; deeper objects are only checked.
        int nParent = kNotKept;
        if (m_line.m_frames.empty()) {
            m_bRoot = true;
            nParent = -1;
        } else if (Slot(Kind::Object) != nullptr && m_line.m_members[m_nPending].nParent == -1) {
            nParent = m_nPending;
        }
        if (!Open(true, nParent)) {
            return false;
        }
        const size_t nDepth = m_line.m_frames.size() - 1;
        if (m_line.m_keySets.size() <= nDepth) {
            m_line.m_keySets.resize(nDepth + 1);
        }
        m_line.m_keySets[nDepth].Clear();
        return true;
    }

    bool Key(const char* p, rapidjson::SizeType cb, bool) {
        if (HoldsSurrogate(p, cb)) {
            m_pszWrong = L"the line is not UTF-8 text.";
            return false;
        }
        if (!m_line.m_keySets[m_line.m_frames.size() - 1].Add(std::string_view(p, cb))) {
            m_pszWrong = L"an object holds a key twice.";
            return false;
        }
        m_nPending = -1;
        const int nParent = m_line.m_frames.back().nMember;
        if (nParent == kNotKept) {
            return true;
        }
        if (m_line.m_nUsed == m_line.m_members.size()) {
            m_line.m_members.emplace_back();
        }
        m_nPending = static_cast<int>(m_line.m_nUsed++);
        CMember& member = m_line.m_members[m_nPending];
        member.nParent = nParent;
        member.strKey = std::string_view(p, cb);
        member.value.kind = Kind::Null;
        return true;
    }

    bool EndObject(rapidjson::SizeType) { return Close(); }

    bool StartArray() {
        if (m_line.m_frames.empty()) {
            return false;
        }
        int nMember = kNotKept;
        CJsonValue* const pValue = Slot(Kind::Texts);
        if (pValue != nullptr) {
            pValue->texts.clear();
            nMember = m_nPending;
        }
        return Open(false, nMember);
    }

    bool EndArray(rapidjson::SizeType) { return Close(); }

private:
    // Where the value that begins now goes, its kind set: the pending
    // member's value, or null when it is not kept. In a kept array, a value
    // other than a text makes the array's kind Array.
    CJsonValue* Slot(Kind kind) {
        if (m_line.m_frames.empty()) {
            return nullptr;
        }
        const CFrame& frame = m_line.m_frames.back();
        if (!frame.bObject) {
            if (frame.nMember >= 0) {
                m_line.m_members[frame.nMember].value.kind = Kind::Array;
            }
            return nullptr;
        }
        if (m_nPending < 0) {
            return nullptr;
        }
        CJsonValue& value = m_line.m_members[m_nPending].value;
        value.kind = kind;
        return &value;
    }

    bool Scalar(Kind kind) {
        Slot(kind);
        return m_bRoot;
    }

    bool Integer(bool bNegative, unsigned long long u) {
        CJsonValue* const pValue = Slot(Kind::Integer);
        if (pValue != nullptr) {
            pValue->bNegative = bNegative;
            pValue->u = u;
        }
        return m_bRoot;
    }

    bool Open(bool bObject, int nMember) {
        if (m_line.m_frames.size() >= kMaxDepth) {
            m_pszWrong = L"the line nests deeper than a snapshot's lines do.";
            return false;
        }
        m_line.m_frames.push_back({bObject, nMember});
        m_nPending = -1;
        return true;
    }

    bool Close() {
        m_line.m_frames.pop_back();
        m_nPending = -1;
        return true;
    }

    CSnapshotLine& m_line;
    const wchar_t* m_pszWrong = nullptr;
    int m_nPending = -1;   // the kept member whose value comes next, or -1
    bool m_bRoot = false;  // the line's object has begun
};

// RapidJSON's reader, kept from line to line with the stack it grows.
struct CSnapshotLine::CParser {
    rapidjson::Reader reader;
};

CSnapshotLine::CSnapshotLine() : m_pParser(std::make_unique<CParser>()) {}
CSnapshotLine::~CSnapshotLine() = default;

const wchar_t* CSnapshotLine::Parse(const char* p, size_t cb) {
    m_nUsed = 0;
    m_frames.clear();
    CHandler handler(*this);
    m_text.assign(p, p + cb);
    m_text.push_back('\0');
    rapidjson::InsituStringStream stream(m_text.data());
    // Iterative: the nesting of a line never reaches the stack. The library
    // checks the UTF-8 of a line that holds a byte beyond ASCII; a line of
    // ASCII alone cannot hold invalid UTF-8, and is read without the check,
    // at the speed of the hand-written reader before it. The stream reads a
    // zero byte as its end, so a line is whole only when it was read to its
    // last byte.
    constexpr unsigned kFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseInsituFlag;
    rapidjson::Reader& reader = m_pParser->reader;
    const rapidjson::ParseResult result =
        IsAscii(p, cb)
            ? reader.Parse<kFlags>(stream, handler)
            : reader.Parse<kFlags | rapidjson::kParseValidateEncodingFlag>(stream, handler);
    if (handler.GetWrong() != nullptr) {
        return handler.GetWrong();
    }
    if (result.IsError()) {
        const rapidjson::ParseErrorCode code = result.Code();
        return code == rapidjson::kParseErrorStringInvalidEncoding ||
                       code == rapidjson::kParseErrorStringUnicodeSurrogateInvalid
                   ? L"the line is not UTF-8 text."
                   : L"the line is not a JSON object.";
    }
    return stream.Tell() == cb ? nullptr : L"the line is not a JSON object.";
}

const CJsonValue* CSnapshotLine::Find(const char* pszName, const char* pszParent) const {
    int nParent = -1;
    if (pszParent != nullptr) {
        nParent = IndexOf(pszParent, -1);
        if (nParent < 0 || m_members[nParent].value.kind != Kind::Object) {
            return nullptr;
        }
    }
    const int i = IndexOf(pszName, nParent);
    return i >= 0 ? &m_members[i].value : nullptr;
}

int CSnapshotLine::IndexOf(const char* pszName, int nParent) const {
    const size_t cchName = std::strlen(pszName);
    for (size_t i = 0; i < m_nUsed; ++i) {
        const std::string_view strKey = m_members[i].strKey;
        if (m_members[i].nParent == nParent && strKey.size() == cchName &&
            std::memcmp(strKey.data(), pszName, cchName) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}
