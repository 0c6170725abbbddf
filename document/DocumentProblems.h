#pragma once
// The load problems of the document, each tied to the tree record it belongs
// to: the record of the node the loader named, else the innermost record
// whose byte range holds the problem's offset, else the root.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dicom/LoadProblems.h"
#include "document/DocumentTree.h"

struct DocumentProblem {
    // As the loader recorded it; its node is only valid while the document is open.
    SLoadProblem problem;
    // The tree record it belongs to; none for the root.
    std::optional<std::size_t> record;
};

namespace quillon {

class DocumentProblems {
public:
    // The byte range of a record, both ends inclusive.
    using RangeOf = std::function<std::pair<uint64_t, uint64_t>(std::size_t record)>;

    void Clear();
    // Takes over the loader's problems and ties each to a record of `records`
    // (empty for a refused file: then every problem belongs to the root).
    // With `stopFirst` the stop, last in the loader's order, comes first (a
    // partial document: where reading stopped is what the user looks for).
    void Assign(const LoadProblems& problems, const std::vector<TreeItemRecord>& records, const RangeOf& rangeOf,
                bool stopFirst = false);

    bool Empty() const { return m_problems.empty(); }
    std::size_t Size() const { return m_problems.size(); }
    const std::vector<DocumentProblem>& All() const { return m_problems; }
    const DocumentProblem& operator[](std::size_t i) const { return m_problems[i]; }
    // Problem i as quillon-dump --problems prints it (ProblemLine).
    std::string Line(std::size_t i) const { return ProblemLine(m_problems[i].problem); }

    // Adds a problem found after the load (a frame that cannot be decoded),
    // tied to `record` (none: the root).
    void Add(const SLoadProblem& problem, std::optional<std::size_t> record);

    // Whether the record (none: the root) carries a problem, and which ones.
    bool HasProblem(std::optional<std::size_t> record) const;
    std::vector<std::size_t> ProblemsOf(std::optional<std::size_t> record) const;

    // Where and why the parse of a refused file or a partial document
    // stopped; null after a whole load.
    const SLoadProblem* Stop() const;

private:
    std::vector<DocumentProblem> m_problems;
    // (record key, problem index) sorted: the root's key is 0, record i's i + 1.
    std::vector<std::pair<std::size_t, std::size_t>> m_byRecord;
};

}  // namespace quillon
