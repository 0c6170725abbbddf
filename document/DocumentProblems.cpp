#include "document/DocumentProblems.h"

#include <algorithm>
#include <map>

namespace {

std::size_t Key(std::optional<std::size_t> record) { return record ? *record + 1 : 0; }

}  // namespace

void quillon::DocumentProblems::Clear() {
    m_problems.clear();
    m_byRecord.clear();
}

void quillon::DocumentProblems::Assign(const quillon::LoadProblems& problems,
                                       const std::vector<TreeItemRecord>& records, const RangeOf& rangeOf,
                                       bool stopFirst) {
    Clear();
    if (problems.Empty()) return;
    m_problems.reserve(problems.Size());
    for (const SLoadProblem& p : problems.All()) m_problems.push_back({p, std::nullopt});
    if (stopFirst && problems.Stopped()) std::rotate(m_problems.begin(), m_problems.end() - 1, m_problems.end());

    // The records of the nodes the problems name, in one walk over the table;
    // nodes are only compared, never followed.
    std::map<ElementKey, std::size_t> nodes;
    for (const SLoadProblem& p : problems.All())
        if (p.node) nodes.emplace(KeyOfElement(p.node), SIZE_MAX);
    if (!nodes.empty()) {
        for (std::size_t i = 0; i < records.size(); ++i) {
            const auto at = nodes.find(KeyOf(records[i]));
            if (at != nodes.end() && at->second == SIZE_MAX) at->second = i;
        }
    }
    // The others by offset: ranges nest in pre-order, so the last record
    // whose range holds an offset is the innermost one that does.
    std::vector<std::pair<uint64_t, std::size_t>> byOffset;
    for (std::size_t i = 0; i < m_problems.size(); ++i) {
        const SLoadProblem& p = m_problems[i].problem;
        const auto at = p.node ? nodes.find(KeyOfElement(p.node)) : nodes.end();
        if (at != nodes.end() && at->second != SIZE_MAX)
            m_problems[i].record = at->second;
        else
            byOffset.emplace_back(p.offset, i);
    }
    if (!byOffset.empty() && rangeOf) {
        std::sort(byOffset.begin(), byOffset.end());
        for (std::size_t r = 0; r < records.size(); ++r) {
            const auto [first, last] = rangeOf(r);
            auto at = std::lower_bound(byOffset.begin(), byOffset.end(), std::make_pair(first, std::size_t(0)));
            for (; at != byOffset.end() && at->first <= last; ++at) m_problems[at->second].record = r;
        }
    }
    for (std::size_t i = 0; i < m_problems.size(); ++i) m_byRecord.emplace_back(Key(m_problems[i].record), i);
    std::sort(m_byRecord.begin(), m_byRecord.end());
}

void quillon::DocumentProblems::Add(const SLoadProblem& problem, std::optional<std::size_t> record) {
    m_problems.push_back({problem, record});
    const std::pair<std::size_t, std::size_t> entry(Key(record), m_problems.size() - 1);
    m_byRecord.insert(std::upper_bound(m_byRecord.begin(), m_byRecord.end(), entry), entry);
}

bool quillon::DocumentProblems::HasProblem(std::optional<std::size_t> record) const {
    const std::size_t key = Key(record);
    const auto at = std::lower_bound(m_byRecord.begin(), m_byRecord.end(), std::make_pair(key, std::size_t(0)));
    return at != m_byRecord.end() && at->first == key;
}

std::vector<std::size_t> quillon::DocumentProblems::ProblemsOf(std::optional<std::size_t> record) const {
    const std::size_t key = Key(record);
    std::vector<std::size_t> out;
    for (auto at = std::lower_bound(m_byRecord.begin(), m_byRecord.end(), std::make_pair(key, std::size_t(0)));
         at != m_byRecord.end() && at->first == key; ++at)
        out.push_back(at->second);
    return out;
}

const SLoadProblem* quillon::DocumentProblems::Stop() const {
    if (m_problems.empty()) return nullptr;
    if (m_problems.back().problem.code == ProblemCode::Stopped) return &m_problems.back().problem;
    if (m_problems.front().problem.code == ProblemCode::Stopped) return &m_problems.front().problem;
    return nullptr;
}
