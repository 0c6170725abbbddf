#include "dicom/DicomTag.h"

#include <cstring>
#include <new>

#include "dicom/ByteOrder.h"
#include "dicom/DicomDictionary.h"
#include "dicom/FileBytes.h"

using quillon::AllocBlock;
using quillon::HeapPtr;

namespace {

const std::u16string kSQ = u"SQ";

// A VR text of two characters as one number, for switching on it; 0 for any
// other length (no VR code of two characters maps to 0).
constexpr uint32_t Code(char a, char b) { return uint32_t(uint8_t(a)) << 16 | uint8_t(b); }
uint32_t VRCode(const std::u16string& vr) { return vr.size() == 2 ? uint32_t(vr[0]) << 16 | vr[1] : 0; }

}  // namespace

CTagData::~CTagData() { Free(); }

void CTagData::Free() {
    m_data.reset();
    m_source = nullptr;
    m_swapUnit = 1;
    m_shortLength = 0;
    m_tail = 0;
    m_longLength = 0;
}

namespace {

// Reads n bytes of a value left in the file, swapped to machine order.
bool ReadFromSource(const quillon::FileBytes& source, uint64_t offset, uint8_t* dst, uint64_t n, unsigned swapUnit) {
    if (n > SIZE_MAX || !source.Read(offset, dst, std::size_t(n))) return false;
    quillon::SwapUnits(dst, n, swapUnit);
    return true;
}

}  // namespace

CDicomTag::CDicomTag(uint16_t group, uint16_t element) { SetTag(group, element); }

CDicomTag::~CDicomTag() = default;

void CDicomTag::Clear() {
    m_tagData.Free();
    m_children.clear();
    m_group = 0;
    m_element = 0;
    m_vr.Clear();
    m_description.clear();
    m_dataOffset = 0;
    m_parent = nullptr;
}

bool CDicomTag::SetTag(uint16_t group, uint16_t element) {
    Clear();
    m_group = group;
    m_element = element;
    const CDicomDictionary& dict = CDicomDictionary::Instance();
    const uint16_t folded = FoldRepeatingGroup(group);
    if (element == 0x0000) {
        m_vr.SetGroupLengthVR();
        m_description = u"Group Length";
        m_tagData.m_data.reset(static_cast<uint8_t*>(std::calloc(4, 1)));
        if (!m_tagData.m_data) return false;
        m_tagData.m_shortLength = 4;
        m_tagData.m_longLength = 0;
        return true;
    }
    // The dictionary's texts are interned already (and its VRs upper case).
    quillon::InternedText vr;
    if (dict.LookupInterned(folded, element, m_description, vr) && !vr.empty()) m_vr.SetInternedVR(vr);
    return true;
}

bool CDicomTag::SetValue(const uint8_t* bytes, uint32_t length) {
    if (!bytes || length == 0) return false;
    m_tagData.Free();
    m_tagData.m_data.reset(static_cast<uint8_t*>(AllocBlock(length)));
    if (!m_tagData.m_data) return false;
    std::memcpy(m_tagData.m_data.get(), bytes, length);
    ChooseLengthForm(length, false);
    NormalizeValue();
    return true;
}

void CDicomTag::ChooseLengthForm(uint32_t length, bool longForm) {
    m_tagData.m_shortLength = 0;
    m_tagData.m_longLength = 0;
    if (longForm || HasLongLength() || length > 0xFFFF)
        m_tagData.m_longLength = length;
    else
        m_tagData.m_shortLength = uint16_t(length);
}

void CDicomTag::ReferValue(const quillon::FileBytes* source, uint32_t length, unsigned swapUnit, bool longForm) {
    m_tagData.Free();
    if (!source || length == 0) return;
    m_tagData.m_source = source;
    m_tagData.m_swapUnit = uint8_t(swapUnit ? swapUnit : 1);
    ChooseLengthForm(length, longForm);
    // Only the length form: the bytes stay as they are in the file.
    if (!longForm) NormalizeValue();
}

SValueBytes CDicomTag::ValueBytes(uint64_t limit) const {
    SValueBytes out;
    const uint64_t length = GetLength();
    if (length == kUndefinedLength) return out;
    if (const uint8_t* held = GetData()) {
        out.data = held;
        out.size = std::min<uint64_t>(length, limit);
        return out;
    }
    if (!m_tagData.m_source || length == 0) return out;
    uint64_t n = std::min<uint64_t>(length, limit);
    // Whole numbers only, so that swapping keeps them whole.
    if (m_tagData.m_swapUnit > 1) n -= n % m_tagData.m_swapUnit;
    if (n == 0 || n > SIZE_MAX) return out;
    out.owned.reset(static_cast<uint8_t*>(AllocBlock(std::size_t(n))));
    if (!out.owned || !ReadFromSource(*m_tagData.m_source, m_dataOffset, out.owned.get(), n, m_tagData.m_swapUnit)) {
        out.owned.reset();
        return out;
    }
    out.data = out.owned.get();
    out.size = n;
    return out;
}

bool CDicomTag::CopyValue(void* dst, uint64_t n) const {
    const uint64_t length = GetLength();
    if (length == kUndefinedLength || n > length) return false;
    if (n == 0) return true;
    if (const uint8_t* held = GetData()) {
        std::memcpy(dst, held, std::size_t(n));
        return true;
    }
    if (!m_tagData.m_source) return false;
    // Whole numbers are swapped; a trailing part of one is read as it lies.
    return ReadFromSource(*m_tagData.m_source, m_dataOffset, static_cast<uint8_t*>(dst), n, m_tagData.m_swapUnit);
}

// Grows the value block to blockSize bytes, filling the new bytes with
// `fill`. The length stays the one read from the file: the added bytes are a
// normalised tail for readers that want one, never part of the value. On
// allocation failure the value is dropped.
bool CDicomTag::GrowValue(uint32_t blockSize, uint8_t fill) {
    const uint32_t length = GetLength();
    if (blockSize <= length || !m_tagData.m_data) return true;
    auto* block = static_cast<uint8_t*>(std::realloc(m_tagData.m_data.get(), blockSize));
    if (!block) {
        m_tagData.Free();  // realloc left the old block in place
        return false;
    }
    (void)m_tagData.m_data.release();  // realloc freed or kept it; block is the one now
    m_tagData.m_data.reset(block);
    std::memset(block + length, fill, blockSize - length);
    m_tagData.m_tail = uint8_t(blockSize - length);
    return true;
}

void CDicomTag::NormalizeValue() {
    auto moveToLong = [this] {
        if (m_tagData.m_shortLength != 0) {
            m_tagData.m_longLength = m_tagData.m_shortLength;
            m_tagData.m_shortLength = 0;
        }
    };
    const uint32_t length = GetLength();
    const bool odd = (length & 1) != 0;
    // The VRs of one rule stay on shared lines.
    // clang-format off
    switch (VRCode(m_vr.GetVR())) {
        case Code('A', 'E'): case Code('A', 'S'): case Code('C', 'S'): case Code('D', 'S'): case Code('D', 'T'):
        case Code('I', 'S'): case Code('L', 'O'): case Code('L', 'T'): case Code('P', 'N'): case Code('S', 'H'):
        case Code('S', 'T'): case Code('T', 'M'): case Code('U', 'C'): case Code('U', 'R'): case Code('U', 'T'):
            if (odd) GrowValue(length + 1, ' ');
            break;
        case Code('A', 'T'):
            if (odd) GrowValue(length + 1, 0);
            break;
        case Code('O', 'B'): case Code('O', 'W'):
            moveToLong();
            if (odd && length != kUndefinedLength) GrowValue(length + 1, 0);
            break;
        case Code('D', 'A'):
            if (length < 8 || odd) GrowValue(length < 8 ? 8 : length + 1, ' ');
            break;
        case Code('U', 'I'): {
            if (odd) GrowValue(length + 1, 0);
            const uint32_t n = GetLength();
            uint8_t* d = m_tagData.m_data.get();
            if (d) {
                for (uint32_t i = 0; i < n; ++i) {
                    const uint8_t c = d[i];
                    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == ' ' || c == 0)) d[i] = '0';
                }
            }
            break;
        }
        case Code('O', 'D'): case Code('O', 'F'): case Code('O', 'L'): case Code('O', 'V'): case Code('S', 'Q'):
        case Code('S', 'V'): case Code('U', 'N'): case Code('U', 'V'):
            moveToLong();
            break;
        default:
            break;
    }
    // clang-format on
}

HeapPtr<char> CDicomTag::GetValueString() const {
    const uint8_t* data = m_tagData.m_data.get();
    if (!data && m_tagData.m_source) {
        const uint64_t length = GetLength();
        if (length > kMaxValueString) return nullptr;
        HeapPtr<char> out(static_cast<char*>(std::malloc(length + 1)));
        if (!out || !CopyValue(out.get(), length)) return nullptr;
        out.get()[length] = 0;
        return out;
    }
    const uint64_t length = data ? GetNormalizedLength() : 0;
    HeapPtr<char> out(static_cast<char*>(std::malloc(length + 1)));
    if (!out) return out;
    if (length) std::memcpy(out.get(), data, length);
    out.get()[length] = 0;
    return out;
}

bool CDicomTag::AddChild(std::unique_ptr<CDicomTag> child) {
    if (!child) return false;
    if (child->m_vr.GetVR().empty()) {
        std::u16string vr = child->GetDisplayVR();
        child->SetVR(vr);
    }
    child->m_parent = this;
    m_children.push_back(std::move(child));
    return true;
}

std::size_t CDicomTag::IndexOfChild(const CDicomTag* child) const {
    for (std::size_t i = 0; i < m_children.size(); ++i)
        if (m_children[i].get() == child) return i;
    return SIZE_MAX;
}

const std::u16string& CDicomTag::GetDisplayVR() {
    if (ChildCount() != 0) return kSQ;
    if (m_tagData.m_source && !m_tagData.m_data && m_vr.GetDeclaredVR().empty()) {
        // A value in the file: the guess of a long-form value asks only whether
        // some byte is not text, which is read here in pieces.
        const bool longForm = m_tagData.m_longLength != 0;
        return m_vr.GetVRGuessingLarge(GetLength(), longForm, longForm && SourceHasNonText());
    }
    return m_vr.GetVRGuessing(m_tagData.m_data.get(), GetLength(), m_tagData.m_longLength != 0);
}

bool CDicomTag::SourceHasNonText() const {
    constexpr std::size_t kPiece = 64 * 1024;
    uint8_t piece[kPiece];
    const uint64_t length = GetLength();
    for (uint64_t at = 0; at < length; at += kPiece) {
        const std::size_t n = std::size_t(std::min<uint64_t>(kPiece, length - at));
        // An unreadable value is taken as binary.
        if (!m_tagData.m_source->Read(m_dataOffset + at, piece, n)) return true;
        for (std::size_t i = 0; i < n; ++i)
            if (piece[i] < 0x20 || piece[i] > 0xC0) return true;
    }
    return false;
}

bool CDicomTag::HasLongLength() const {
    return m_group == 0xFFFE || GetLength() > 0xFFFF || IsLongLengthVR(m_vr.GetDeclaredVR());
}

int32_t CDicomTag::GetIntValue() const {
    const uint8_t* v = m_tagData.m_data.get();
    if (!v) return 0;
    const std::u16string& declared = m_vr.GetDeclaredVR();
    if (declared == u"SS" || declared == u"US" || declared == u"SL" || declared == u"UL" || m_vr.GetVR().empty()) {
        switch (GetLength()) {
            case 1: return int8_t(v[0]);
            case 2: {
                int16_t n;
                std::memcpy(&n, v, 2);
                return n;
            }
            case 4: {
                int32_t n;
                std::memcpy(&n, v, 4);
                return n;
            }
            default: return 0;
        }
    }
    if (declared == u"IS") {
        auto text = GetValueString();
        return text ? ParseISText(text.get()) : 0;
    }
    if (declared == u"DS") {
        auto text = GetValueString();
        return text ? TruncateToInt32(ParseDSText(text.get())) : 0;
    }
    return 0;
}

double CDicomTag::GetDSValue() const {
    if (!m_tagData.m_data || m_vr.GetDeclaredVR() != u"DS") return 0.0;
    auto text = GetValueString();
    return text ? ParseDSText(text.get()) : 0.0;
}

std::u16string CDicomTag::GetDescription() const {
    const std::u16string& name = CDicomDictionary::Instance().LookupName(FoldRepeatingGroup(m_group), m_element);
    return name.empty() ? m_description.str() : name;
}

CDicomTag7FE0::~CDicomTag7FE0() = default;

void CDicomTag7FE0::SetFrames(const quillon::FileBytes* source, unsigned swapUnit, uint64_t offset, uint64_t frameSize,
                              uint64_t count, uint64_t valueEnd, uint64_t frameBits) {
    m_frameSource = source;
    m_frameSwapUnit = uint8_t(swapUnit ? swapUnit : 1);
    m_firstFrame = offset;
    m_frameSize = frameSize;
    m_frameCount = source ? count : 0;
    m_valueEnd = std::max(valueEnd, offset);
    m_frameBits = frameBits;
}

uint64_t CDicomTag7FE0::FrameOffset(std::size_t k) const {
    // The reader records no more frames than the file holds, so these
    // products stay far below 2^64.
    const uint64_t start = m_frameBits ? uint64_t(k) * m_frameBits / 8 : uint64_t(k) * m_frameSize;
    return std::min(m_firstFrame + start, m_valueEnd);
}

uint64_t CDicomTag7FE0::FrameBytes(std::size_t k) const {
    const uint64_t first = FrameOffset(k);
    if (!m_frameBits) return std::min(m_frameSize, m_valueEnd - first);
    const uint64_t end = m_firstFrame + ((uint64_t(k) + 1) * m_frameBits + 7) / 8;
    return std::min(end, m_valueEnd) - first;
}

bool CDicomTag7FE0::ReadValueBits(uint64_t first, uint64_t last, uint8_t* dst, uint64_t n) const {
    if (n > SIZE_MAX - 16) return false;
    std::memset(dst, 0, std::size_t(n));
    const uint64_t valueSize = m_valueEnd - m_firstFrame;
    const unsigned shift = unsigned(first % 8);
    // The bytes holding the bits, widened to whole swap units of the value so
    // that big-endian words turn around as they were stored.
    const uint64_t unit = m_frameSwapUnit;
    const uint64_t from = first / 8 / unit * unit;
    const uint64_t to = std::min(valueSize, (first / 8 + n + 1 + unit - 1) / unit * unit);
    if (from >= to) return true;
    quillon::HeapPtr<uint8_t> held(static_cast<uint8_t*>(quillon::AllocBlock(std::size_t(to - from))));
    if (!held || !ReadFromSource(*m_frameSource, m_firstFrame + from, held.get(), to - from, m_frameSwapUnit))
        return false;
    const auto byteAt = [&](uint64_t i) -> unsigned { return i >= from && i < to ? held.get()[i - from] : 0u; };
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t at = first / 8 + i;
        dst[i] = uint8_t(shift ? (byteAt(at) >> shift | byteAt(at + 1) << (8 - shift)) : byteAt(at));
    }
    // Only the bits before `last` are the frame's.
    const uint64_t own = last > first ? last - first : 0;
    if (own < 8 * n) {
        const uint64_t whole = own / 8;
        if (own % 8) dst[whole] &= uint8_t((1u << (own % 8)) - 1);
        const uint64_t zeroFrom = whole + (own % 8 ? 1 : 0);
        std::memset(dst + zeroFrom, 0, std::size_t(n - zeroFrom));
    }
    return true;
}

bool CDicomTag7FE0::ReadFrameBytes(std::size_t k, uint64_t at, uint8_t* dst, uint64_t n) const {
    if (!m_frameSource || k >= m_frameCount || at > m_frameSize || n > m_frameSize - at || n > SIZE_MAX) return false;
    if (m_frameBits) return ReadValueBits(uint64_t(k) * m_frameBits + 8 * at, (uint64_t(k) + 1) * m_frameBits, dst, n);
    const uint64_t held = FrameBytes(k);
    const uint64_t present = at < held ? std::min(n, held - at) : 0;
    if (present < n) std::memset(dst + present, 0, std::size_t(n - present));
    if (present == 0) return true;
    return ReadFromSource(*m_frameSource, FrameOffset(k) + at, dst, present, m_frameSwapUnit);
}

bool CDicomTag7FE0::ReadFrame(std::size_t k, uint8_t* dst) const {
    if (!m_frameSource || k >= m_frameCount) return false;
    if (m_frameBits) return ReadValueBits(uint64_t(k) * m_frameBits, (uint64_t(k) + 1) * m_frameBits, dst, m_frameSize);
    const uint64_t held = FrameBytes(k);
    if (held < m_frameSize) std::memset(dst + held, 0, std::size_t(m_frameSize - held));
    if (held == 0) return true;
    return ReadFromSource(*m_frameSource, FrameOffset(k), dst, held, m_frameSwapUnit);
}

void CDicomTag7FE0::SetFragmentSource(const quillon::FileBytes* source, unsigned swapUnit) {
    m_fragmentSource = source;
    m_fragmentSwapUnit = uint8_t(swapUnit ? swapUnit : 1);
}

bool CDicomTag7FE0::AddFragment(uint64_t dataOffset, uint32_t length) {
    try {
        m_fragments.push_back({uint32_t(dataOffset), uint32_t(dataOffset >> 32), length});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CDicomTag7FE0::CopyFragment(std::size_t k, void* dst, uint64_t n) const {
    if (k >= m_fragments.size() || n > m_fragments[k].length) return false;
    if (n == 0) return true;
    if (!m_fragmentSource) return false;
    return ReadFromSource(*m_fragmentSource, m_fragments[k].Offset(), static_cast<uint8_t*>(dst), n,
                          m_fragmentSwapUnit);
}

// The node the reader made of a fragment item before fragments were held
// compactly: a value of up to kHeldValueLimit bytes held, a longer one left
// in the file, and the VR guessed from the value as AddChild does.
bool CDicomTag7FE0::MakeFragmentNode(std::size_t k, CDicomTag& node) const {
    const SFragment& fragment = m_fragments[k];
    // What an item's tag gives a node, looked up once.
    static const CDicomTag kItem(quillon::tags::kItem.group, quillon::tags::kItem.element);
    if (node.m_parent == this && node.IsItem() && node.m_children.empty()) {
        // A fragment node made here before (a scratch node): only what
        // differs from fragment to fragment is set again.
        node.m_tagData.Free();
        node.m_vr = kItem.m_vr;
        node.m_description = kItem.m_description;
    } else {
        node.SetTag(quillon::tags::kItem.group, quillon::tags::kItem.element);
        node.m_tagData.Free();
    }
    node.m_tagData.m_longLength = fragment.length;
    node.m_dataOffset = fragment.Offset();
    node.m_parent = const_cast<CDicomTag7FE0*>(this);
    const uint32_t length = fragment.length;
    if (length > kHeldValueLimit) {
        node.ReferValue(m_fragmentSource, length, m_fragmentSwapUnit);
    } else if (length != 0) {
        HeapPtr<uint8_t> copy(static_cast<uint8_t*>(AllocBlock(length)));
        if (!copy || !CopyFragment(k, copy.get(), length) || !node.SetValue(copy.get(), length)) return false;
    }
    if (node.m_vr.GetVR().empty()) {
        std::u16string vr = node.GetDisplayVR();
        node.SetVR(vr);
    }
    return true;
}

namespace {

// The first node made whose value starts at or after `offset`.
auto FindMade(std::vector<std::unique_ptr<CDicomTag>>& made, uint64_t offset) {
    return std::lower_bound(made.begin(), made.end(), offset,
                            [](const std::unique_ptr<CDicomTag>& node, uint64_t o) { return node->m_dataOffset < o; });
}

}  // namespace

CDicomTag* CDicomTag7FE0::Child(std::size_t i) const {
    if (i < m_children.size()) return m_children[i].get();
    const std::size_t k = i - m_children.size();
    if (k >= m_fragments.size()) return nullptr;
    const uint64_t offset = m_fragments[k].Offset();
    std::lock_guard<std::mutex> lock(m_fragmentNodesLock);
    auto at = FindMade(m_fragmentNodes, offset);
    if (at != m_fragmentNodes.end() && (*at)->m_dataOffset == offset) return at->get();
    try {
        auto node = std::make_unique<CDicomTag>();
        if (!MakeFragmentNode(k, *node)) return nullptr;
        // Nodes made in file order (the window's tree) append.
        at = m_fragmentNodes.insert(at, std::move(node));
        return at->get();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

CDicomTag* CDicomTag7FE0::PeekChild(std::size_t i, std::unique_ptr<CDicomTag>& scratch) const {
    if (i < m_children.size()) return m_children[i].get();
    const std::size_t k = i - m_children.size();
    if (k >= m_fragments.size()) return nullptr;
    {
        const uint64_t offset = m_fragments[k].Offset();
        std::lock_guard<std::mutex> lock(m_fragmentNodesLock);
        const auto at = FindMade(m_fragmentNodes, offset);
        if (at != m_fragmentNodes.end() && (*at)->m_dataOffset == offset) return at->get();
    }
    try {
        if (!scratch) scratch = std::make_unique<CDicomTag>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return MakeFragmentNode(k, *scratch) ? scratch.get() : nullptr;
}

std::size_t CDicomTag7FE0::IndexOfChild(const CDicomTag* child) const {
    const std::size_t held = CDicomTag::IndexOfChild(child);
    if (held != SIZE_MAX || !child || child->m_parent != this || !child->IsItem()) return held;
    // A fragment node: found by where its value starts, which ascends.
    const uint64_t offset = child->m_dataOffset;
    const auto at = std::lower_bound(m_fragments.begin(), m_fragments.end(), offset,
                                     [](const SFragment& f, uint64_t o) { return f.Offset() < o; });
    if (at == m_fragments.end() || at->Offset() != offset) return SIZE_MAX;
    return m_children.size() + std::size_t(at - m_fragments.begin());
}

std::size_t CDicomTag7FE0::FragmentNodesMade() const {
    std::lock_guard<std::mutex> lock(m_fragmentNodesLock);
    return m_fragmentNodes.size();
}
