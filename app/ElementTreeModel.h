#pragma once
// The element tree for the tree view: one root item labelled with the path,
// under it the document's tree records. The records are the only map from
// items to elements: an item's internal id is its record index + 1 (0 for the
// root). Items that carry a load problem are drawn in kProblemColour, with
// the problems as their tooltip.
#include <QAbstractItemModel>
#include <QColor>
#include <QString>

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "document/DocumentProblems.h"
#include "document/DocumentTree.h"

namespace quillon {

// Text colour of a tree item that carries a load problem.
inline const QColor kProblemColour(0xC0, 0x00, 0x00);

class ElementTreeModel : public QAbstractItemModel {
    Q_OBJECT

public:
    explicit ElementTreeModel(QObject* parent = nullptr);

    // Shows `records` (borrowed; valid until the next SetRecords or Clear)
    // under a root item with the text `rootLabel`; `problems` (borrowed
    // likewise, may be null) mark the items that carry one. An item's text
    // is asked of `label` when it is shown (the records hold none).
    using LabelOf = std::function<QString(std::size_t record)>;
    void SetRecords(const std::vector<TreeItemRecord>* records, const QString& rootLabel,
                    const quillon::DocumentProblems* problems = nullptr, LabelOf label = {});
    // No items at all.
    void Clear();
    bool IsEmpty() const { return !m_records; }

    QModelIndex RootIndex() const;
    QModelIndex IndexOfRecord(std::size_t record) const;
    // The record of an item; none for the root and for an invalid index.
    std::optional<std::size_t> RecordOf(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    // Children of node n (0 = root, record i = i + 1) are
    // m_children[m_childStart[n] .. m_childStart[n + 1]).
    const std::vector<TreeItemRecord>* m_records = nullptr;
    const quillon::DocumentProblems* m_problems = nullptr;
    QString m_rootLabel;
    LabelOf m_label;
    std::vector<std::size_t> m_childStart;
    std::vector<std::size_t> m_children;
};

}  // namespace quillon
