#include "app/ElementTreeModel.h"

#include <climits>

#include <QStringList>

namespace quillon {

ElementTreeModel::ElementTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

void ElementTreeModel::SetRecords(const std::vector<TreeItemRecord>* records, const QString& rootLabel,
                                  const quillon::DocumentProblems* problems, LabelOf label) {
    beginResetModel();
    m_records = records;
    m_problems = records ? problems : nullptr;
    m_rootLabel = rootLabel;
    m_label = records ? std::move(label) : LabelOf();
    m_childStart.clear();
    m_children.clear();
    if (m_records) {
        const std::size_t n = m_records->size();
        // Count the children of every node, then place them in pre-order,
        // which is sibling order within each parent.
        m_childStart.assign(n + 2, 0);
        for (const TreeItemRecord& r : *m_records) {
            const std::size_t node = r.parent == kRootRecord ? 0 : r.parent + 1;
            ++m_childStart[node + 1];
        }
        for (std::size_t i = 1; i < m_childStart.size(); ++i) m_childStart[i] += m_childStart[i - 1];
        m_children.resize(n);
        std::vector<std::size_t> fill(m_childStart.begin(), m_childStart.end() - 1);
        for (std::size_t i = 0; i < n; ++i) {
            const TreeItemRecord& r = (*m_records)[i];
            const std::size_t node = r.parent == kRootRecord ? 0 : r.parent + 1;
            m_children[fill[node]++] = i;
        }
    }
    endResetModel();
}

void ElementTreeModel::Clear() { SetRecords(nullptr, QString()); }

QModelIndex ElementTreeModel::RootIndex() const { return m_records ? createIndex(0, 0, quintptr(0)) : QModelIndex(); }

QModelIndex ElementTreeModel::IndexOfRecord(std::size_t record) const {
    if (!m_records || record >= m_records->size()) return {};
    const std::size_t row = (*m_records)[record].row;
    return createIndex(int(row), 0, quintptr(record + 1));
}

std::optional<std::size_t> ElementTreeModel::RecordOf(const QModelIndex& index) const {
    if (!m_records || !index.isValid() || index.model() != this || index.internalId() == 0) return std::nullopt;
    const std::size_t record = std::size_t(index.internalId() - 1);
    if (record >= m_records->size()) return std::nullopt;
    return record;
}

QModelIndex ElementTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (!m_records || row < 0 || column != 0) return {};
    if (!parent.isValid()) return row == 0 ? RootIndex() : QModelIndex();
    const std::size_t node = std::size_t(parent.internalId());
    if (node + 1 >= m_childStart.size()) return {};
    const std::size_t first = m_childStart[node];
    const std::size_t count = m_childStart[node + 1] - first;
    if (std::size_t(row) >= count) return {};
    return createIndex(row, 0, quintptr(m_children[first + std::size_t(row)] + 1));
}

QModelIndex ElementTreeModel::parent(const QModelIndex& child) const {
    const auto record = RecordOf(child);
    if (!record) return {};
    const std::size_t parent = (*m_records)[*record].parent;
    if (parent == kRootRecord) return RootIndex();
    return IndexOfRecord(parent);
}

int ElementTreeModel::rowCount(const QModelIndex& parent) const {
    if (!m_records) return 0;
    if (!parent.isValid()) return 1;
    if (parent.column() != 0) return 0;
    const std::size_t node = std::size_t(parent.internalId());
    if (node + 1 >= m_childStart.size()) return 0;
    const std::size_t count = m_childStart[node + 1] - m_childStart[node];
    return count > std::size_t(INT_MAX) ? INT_MAX : int(count);
}

int ElementTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant ElementTreeModel::data(const QModelIndex& index, int role) const {
    if (!m_records || !index.isValid()) return {};
    const auto record = RecordOf(index);
    if (!record && index.internalId() != 0) return {};
    switch (role) {
        case Qt::DisplayRole:
            if (!record) return m_rootLabel;
            return m_label ? m_label(*record) : QString();
        case Qt::ForegroundRole:
            if (m_problems && m_problems->HasProblem(record)) return kProblemColour;
            return {};
        case Qt::ToolTipRole: {
            if (!m_problems) return {};
            QStringList lines;
            for (std::size_t i : m_problems->ProblemsOf(record)) {
                const SLoadProblem& p = (*m_problems)[i].problem;
                lines << QStringLiteral("%1: %2").arg(QString::fromLatin1(ProblemCodeName(p.code)),
                                                      QString::fromStdString(p.text));
            }
            return lines.isEmpty() ? QVariant() : QVariant(lines.join(QLatin1Char('\n')));
        }
        default: return {};
    }
}

Qt::ItemFlags ElementTreeModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

}  // namespace quillon
