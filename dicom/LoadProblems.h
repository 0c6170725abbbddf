#pragma once
// What a file does wrong, as the loader met it: each rule the parser bent
// while it read the file, and for a refused file where and why it stopped.
// Recording never changes what the loader builds.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CDicomTag;

enum class ProblemCode {
    OddLength,         // an element's value length is odd
    VRMismatch,        // the VR in the file differs from the dictionary's
    ReservedBytes,     // non-zero reserved bytes of a long-length VR read as a short header
    ImplicitRetry,     // a bare data set read as explicit VR failed and was read again as implicit VR
    UNSequence,        // an undefined-length UN element read as a sequence of implicit VR items
    LengthMismatch,    // an item or sequence length disagrees with its contents
    GroupLength,       // a group length disagrees with its group
    TrailingBytes,     // bytes after the data set
    Truncated,         // the last element ends past the end of the file
    TagOrder,          // a tag not in ascending order
    ValueVR,           // a value that breaks its VR's rules
    OffsetTable,       // a Basic Offset Table entry that does not point at a fragment item
    PixelDataLength,   // native Pixel Data length that disagrees with the image description
    PrivateTag,        // an odd-group element that breaks the rules of private elements
    NoTransferSyntax,  // file meta information without a transfer syntax
    Stopped,           // where and why the parse of a refused file stopped
    FrameDecode,       // a frame that cannot be decoded, with the decoder's reason
};

// The short code printed for a problem ("odd-length", ...).
const char* ProblemCodeName(ProblemCode code);

struct SLoadProblem {
    uint64_t offset = 0;  // byte offset in the file where the problem applies
    uint16_t group = 0;   // the element it concerns
    uint16_t element = 0;
    ProblemCode code = ProblemCode::Stopped;
    std::string text;                 // one sentence
    const CDicomTag* node = nullptr;  // the node in the tree; null when none was built
};

// A problem as one line of text: offset (decimal), tag "GGGG,EEEE", code and
// sentence, TAB-separated, without a line end. The fields one by one, in the
// same order and form, for whoever shows them in columns.
std::array<std::string, 4> ProblemFields(const SLoadProblem& problem);
std::string ProblemLine(const SLoadProblem& problem);

namespace quillon {

class LoadProblems {
public:
    void Clear() { m_problems.clear(); }
    void Add(ProblemCode code, uint64_t offset, uint16_t group, uint16_t element, const CDicomTag* node,
             std::string text) {
        m_problems.push_back({offset, group, element, code, std::move(text), node});
    }
    // After a refused load no node is left: the problems keep offsets and tags only.
    void ForgetNodes() {
        for (SLoadProblem& p : m_problems) p.node = nullptr;
    }
    // Forgets the nodes for which `forget` is true (nodes that are gone).
    template <class Predicate>
    void ForgetNodesIf(Predicate forget) {
        for (SLoadProblem& p : m_problems)
            if (p.node && forget(p.node)) p.node = nullptr;
    }
    // Keeps the first `count` problems (an abandoned parse's are dropped).
    void Truncate(std::size_t count) {
        if (count < m_problems.size()) m_problems.resize(count);
    }
    bool Stopped() const { return !m_problems.empty() && m_problems.back().code == ProblemCode::Stopped; }
    const std::vector<SLoadProblem>& All() const { return m_problems; }
    std::size_t Size() const { return m_problems.size(); }
    bool Empty() const { return m_problems.empty(); }

private:
    std::vector<SLoadProblem> m_problems;
};

}  // namespace quillon

// The value rules of a VR that a value breaks, as a sentence; empty when the
// value keeps them. Only the rules the problems report checks: the forms of
// DA, TM, IS, DS and UI values, a NUL as the padding of text other than a
// UI, a value longer than its VR allows.
std::string CheckValueRules(std::u16string_view vr, const uint8_t* value, uint32_t length);
// Whether CheckValueRules looks at values of this VR at all.
bool HasValueRules(std::u16string_view vr);

// Whether two bytes are the code of a VR ("AE" to "UV", upper case).
bool IsVRCode(uint8_t a, uint8_t b);

// Whether the dictionary allows `vr` for the tag: true when the tag is unknown,
// or when `vr` is one of the VRs the dictionary gives it.
bool DictionaryAllowsVR(uint16_t group, uint16_t element, std::u16string_view vr);
