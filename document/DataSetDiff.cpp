#include "document/DataSetDiff.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <tuple>

#include "dicom/FileBytes.h"
#include "dicom/LoaderRules.h"
#include "dicom/TextUtil.h"

namespace quillon {

bool DataSetDiff::Equal() const {
    return std::all_of(entries.begin(), entries.end(), [](const DiffEntry& e) { return e.kind == DiffKind::Shift; });
}

std::string TagPathText(const TagPath& path) {
    std::string text;
    for (const TagStep& step : path) {
        char part[32];
        if (!text.empty()) text += '/';
        std::snprintf(part, sizeof part, "(%04X,%04X)", step.group, step.element);
        text += part;
        if (step.nth > 0 || (step.group == 0xFFFE && step.element == 0xE000)) {
            std::snprintf(part, sizeof part, "[%zu]", step.nth + 1);
            text += part;
        }
    }
    return text;
}

namespace {

// Values longer than this are compared a block at a time.
constexpr uint64_t kWholeCompare = 16u << 20;
constexpr uint64_t kCompareBlock = 1 << 20;

// The children that stand for elements of the file: a pixel data element's
// frame nodes are the viewer's, not the file's.
struct Child {
    const CDicomTag* node;
    TagStep step;
};

class Walker {
public:
    Walker(const CDicomFile& a, const CDicomFile& b, DataSetDiff& out)
        : m_a(a), m_b(b), m_out(out), m_charsetA(a.GetSpecificCharacterSet()), m_charsetB(b.GetSpecificCharacterSet()) {}

    void Level(const std::vector<Child>& a, const std::vector<Child>& b, TagPath& path) {
        std::map<std::tuple<uint16_t, uint16_t, std::size_t>, std::size_t> inB;
        for (std::size_t j = 0; j < b.size(); ++j) inB.emplace(Key(b[j].step), j);
        std::map<std::tuple<uint16_t, uint16_t, std::size_t>, std::size_t> inA;
        for (std::size_t i = 0; i < a.size(); ++i) inA.emplace(Key(a[i].step), i);
        std::size_t j = 0;
        auto addedUpTo = [&](std::size_t end) {
            // B's elements that A lacks, in B's order, before B's element `end`.
            for (; j < end; ++j)
                if (!inA.count(Key(b[j].step))) {
                    path.push_back(b[j].step);
                    Added(b[j].node, path);
                    path.pop_back();
                }
        };
        for (std::size_t i = 0; i < a.size(); ++i) {
            const auto match = inB.find(Key(a[i].step));
            if (match != inB.end()) addedUpTo(match->second);
            path.push_back(a[i].step);
            if (match == inB.end()) {
                Removed(a[i].node, path);
            } else {
                Pair(a[i].node, b[match->second].node, path);
            }
            path.pop_back();
        }
        addedUpTo(b.size());
    }

    void Pair(const CDicomTag* a, const CDicomTag* b, TagPath& path) {
        const uint64_t offsetA = m_a.TagOffset(a), offsetB = m_b.TagOffset(b);
        const int64_t shift = int64_t(offsetB - offsetA);
        if (shift != m_shift) {
            m_shift = shift;
            Add(DiffKind::Shift, path, a, b).shift = shift;
        }
        unsigned what = 0;
        if (a->m_vr.GetVR() != b->m_vr.GetVR()) what |= kDiffVR;
        if (a->GetLength() != b->GetLength()) what |= kDiffLength;
        if (!SameValue(a, b)) what |= kDiffValue;
        if (what) Add(DiffKind::Changed, path, a, b).what = what;
        // Nodes made for compactly held children live while their level is walked.
        std::vector<std::unique_ptr<CDicomTag>> keepA, keepB;
        const auto childrenA = Children(a, keepA), childrenB = Children(b, keepB);
        Level(childrenA, childrenB, path);
    }

    std::vector<Child> Children(const CDicomTag* node, std::vector<std::unique_ptr<CDicomTag>>& keep) {
        std::vector<Child> children;
        std::map<std::pair<uint16_t, uint16_t>, std::size_t> seen;
        const std::size_t count = node ? node->ChildCount() : 0;
        for (std::size_t i = 0; i < count; ++i) {
            // A fragment held compactly becomes a node for the walk of its level.
            std::unique_ptr<CDicomTag> scratch;
            const CDicomTag* child = node->PeekChild(i, scratch);
            if (!child) continue;
            if (scratch) keep.push_back(std::move(scratch));
            if (child->m_group == rules::kFrameNodeGroup && tags::IsPixelDataTag({node->m_group, node->m_element})) continue;
            const std::size_t nth = seen[{child->m_group, child->m_element}]++;
            children.push_back({child, TagStep{child->m_group, child->m_element, nth}});
        }
        return children;
    }

    std::vector<Child> TopLevel(const CDicomFile& file) {
        std::vector<Child> children;
        std::map<std::pair<uint16_t, uint16_t>, std::size_t> seen;
        for (const auto& element : file.Elements()) {
            const std::size_t nth = seen[{element->m_group, element->m_element}]++;
            children.push_back({element.get(), TagStep{element->m_group, element->m_element, nth}});
        }
        return children;
    }

    void Run() {
        TagPath path;
        Level(TopLevel(m_a), TopLevel(m_b), path);
    }

private:
    static std::tuple<uint16_t, uint16_t, std::size_t> Key(const TagStep& s) { return {s.group, s.element, s.nth}; }

    static DiffSide Side(const CDicomFile& file, const CDicomTag* e, std::u16string_view charset) {
        DiffSide side;
        side.tagOffset = file.TagOffset(e);
        for (char16_t c : e->m_vr.GetVR()) side.vr.push_back(c < 0x80 ? char(c) : '?');
        side.length = e->GetLength();
        if (e->HasValue()) {
            side.value = e->GetValueText(charset);
            if (side.value.size() > 64) side.value = side.value.substr(0, 64) + u"...";
        }
        return side;
    }

    // Whether both hold the same value bytes (elements without a value, such
    // as sequences and items, compare by their children instead).
    static bool SameValue(const CDicomTag* a, const CDicomTag* b) {
        if (a->HasValue() != b->HasValue()) return false;
        if (!a->HasValue()) return true;
        const uint64_t length = a->GetLength();
        if (length != b->GetLength()) return false;
        if (length == kUndefinedLength) return true;
        if (length > kWholeCompare && a->IsValueInSource() && b->IsValueInSource() &&
            a->m_tagData.m_swapUnit == b->m_tagData.m_swapUnit) {
            // Large values left in the files, in the same byte order: their
            // stored bytes a block at a time.
            std::vector<uint8_t> blockA(kCompareBlock), blockB(kCompareBlock);
            for (uint64_t at = 0; at < length; at += kCompareBlock) {
                const std::size_t n = std::size_t(std::min(kCompareBlock, length - at));
                const bool readA = a->m_tagData.m_source->Read(a->m_dataOffset + at, blockA.data(), n);
                const bool readB = b->m_tagData.m_source->Read(b->m_dataOffset + at, blockB.data(), n);
                if (readA != readB) return false;
                if (!readA) return true;  // unreadable on both sides alike
                if (std::memcmp(blockA.data(), blockB.data(), n) != 0) return false;
            }
            return true;
        }
        const SValueBytes va = a->ValueBytes(), vb = b->ValueBytes();
        return va.size == vb.size && (va.size == 0 || std::memcmp(va.data, vb.data, std::size_t(va.size)) == 0);
    }

    void Added(const CDicomTag* b, const TagPath& path) { Add(DiffKind::Added, path, nullptr, b); }
    void Removed(const CDicomTag* a, const TagPath& path) { Add(DiffKind::Removed, path, a, nullptr); }
    // One line of the diff; a side without an element is left empty.
    DiffEntry& Add(DiffKind kind, const TagPath& path, const CDicomTag* a, const CDicomTag* b) {
        DiffEntry& e = m_out.entries.emplace_back();
        e.kind = kind;
        e.path = path;
        if (a) e.a = Side(m_a, a, m_charsetA);
        if (b) e.b = Side(m_b, b, m_charsetB);
        return e;
    }

    const CDicomFile& m_a;
    const CDicomFile& m_b;
    DataSetDiff& m_out;
    std::u16string m_charsetA, m_charsetB;
    int64_t m_shift = 0;
};

}  // namespace

DataSetDiff DiffDataSets(const CDicomFile& a, const CDicomFile& b) {
    DataSetDiff diff;
    Walker(a, b, diff).Run();
    return diff;
}

}  // namespace quillon
