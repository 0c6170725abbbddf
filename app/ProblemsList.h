#pragma once
// The load problems of the file last opened, in a window beside the main
// dialog: one row per problem with its offset, tag, code and sentence, the
// fields quillon-dump --problems prints, sorted by any column (by offset at
// first). Clicking a row, or Enter on it, chooses that problem; Ctrl+C copies
// the selected rows as tab-separated lines.
#include <QDialog>

#include <cstddef>

#include "document/DocumentProblems.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace quillon {

class ProblemsList : public QDialog {
    Q_OBJECT

public:
    explicit ProblemsList(QWidget* parent);

    // Shows these problems (copied as text: the list outlives a document).
    void Fill(const quillon::DocumentProblems& problems);
    QTreeWidget* List() const { return m_list; }
    // The rows in the order shown, fields separated by tabs, a line each:
    // the selected ones (all when none is selected), or all of them.
    QString RowsText(bool all) const;

signals:
    // The index of the chosen problem in the problems last filled in.
    void Chosen(std::size_t problem);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Choose(QTreeWidgetItem* item);

    QTreeWidget* m_list = nullptr;
};

}  // namespace quillon
