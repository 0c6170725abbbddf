#pragma once
// The load problems of the file last opened, in a window beside the main
// dialog: one row per problem with its offset, tag, code and sentence, the
// fields quillon-dump --problems prints. Clicking a row, or Enter on it,
// chooses that problem.
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

signals:
    // The index of the chosen problem in the problems last filled in.
    void Chosen(std::size_t problem);

private:
    void Choose(QTreeWidgetItem* item);

    QTreeWidget* m_list = nullptr;
};

}  // namespace quillon
