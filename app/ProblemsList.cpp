#include "app/ProblemsList.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/QuillonResources.h"

namespace quillon {

namespace {

// A row that sorts the offset column as a number and every column's ties
// in the order the problems were found.
class ProblemRow : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    bool operator<(const QTreeWidgetItem& other) const override {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        if (column == 0) {
            // Where a partial read stopped leads the list, before the problems
            // found on the way there.
            const bool stopA = Stopped(*this), stopB = Stopped(other);
            if (stopA != stopB) return stopA;
            const quint64 a = Offset(*this), b = Offset(other);
            if (a != b) return a < b;
        } else if (const int order = text(column).compare(other.text(column)); order != 0) {
            return order < 0;
        }
        return Index(*this) < Index(other);
    }

private:
    static bool Stopped(const QTreeWidgetItem& row) { return row.text(2) == QLatin1String("stopped"); }
    // A problem without an offset goes last.
    static quint64 Offset(const QTreeWidgetItem& row) {
        bool ok = false;
        const quint64 offset = row.text(0).toULongLong(&ok);
        return ok ? offset : ~quint64(0);
    }
    static quint64 Index(const QTreeWidgetItem& row) { return row.data(0, Qt::UserRole).toULongLong(); }
};

}  // namespace

ProblemsList::ProblemsList(QWidget* parent) : QDialog(parent, Qt::Tool) {
    setObjectName(QStringLiteral("problemsList"));
    setWindowTitle(QStringLiteral("Problems - %1").arg(QString::fromLatin1(kAppTitle)));
    setModal(false);
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("problems"));
    m_list->setColumnCount(4);
    m_list->setHeaderLabels(
        {QStringLiteral("Offset"), QStringLiteral("Tag"), QStringLiteral("Code"), QStringLiteral("Problem")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->header()->setStretchLastSection(true);
    m_list->header()->setSortIndicatorShown(true);
    m_list->setSortingEnabled(true);
    m_list->sortByColumn(0, Qt::AscendingOrder);
    // Ctrl+C and the list's menu: the selected rows (all rows without a
    // selection) as tab-separated lines, in the order shown.
    m_list->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* copy = new QAction(QStringLiteral("&Copy Rows"), m_list);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    // The view would copy its current cell itself: the rows go instead.
    m_list->installEventFilter(this);
    connect(copy, &QAction::triggered, this, [this] { QGuiApplication::clipboard()->setText(RowsText(false)); });
    m_list->addAction(copy);
    auto* copyAll = new QAction(QStringLiteral("Copy &All Rows"), m_list);
    connect(copyAll, &QAction::triggered, this, [this] { QGuiApplication::clipboard()->setText(RowsText(true)); });
    m_list->addAction(copyAll);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_list);
    resize(640, 240);
    connect(m_list, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) { Choose(item); });
    connect(m_list, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item, int) { Choose(item); });
}

void ProblemsList::Fill(const quillon::DocumentProblems& problems) {
    m_list->clear();
    QList<QTreeWidgetItem*> rows;
    rows.reserve(qsizetype(problems.Size()));
    for (std::size_t i = 0; i < problems.Size(); ++i) {
        QStringList texts;
        for (const std::string& field : ProblemFields(problems[i].problem)) texts << QString::fromStdString(field);
        auto* row = new ProblemRow(texts);
        row->setData(0, Qt::UserRole, QVariant::fromValue(qulonglong(i)));
        row->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
        rows << row;
    }
    m_list->setSortingEnabled(false);
    m_list->addTopLevelItems(rows);
    m_list->setSortingEnabled(true);
    for (int column = 0; column < 3; ++column) m_list->resizeColumnToContents(column);
}

bool ProblemsList::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        QGuiApplication::clipboard()->setText(RowsText(false));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

QString ProblemsList::RowsText(bool all) const {
    QString text;
    const bool selectedOnly = !all && !m_list->selectedItems().isEmpty();
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = m_list->topLevelItem(i);
        if (selectedOnly && !row->isSelected()) continue;
        for (int column = 0; column < m_list->columnCount(); ++column) {
            if (column > 0) text += QLatin1Char('\t');
            text += row->text(column);
        }
        text += QLatin1Char('\n');
    }
    return text;
}

void ProblemsList::Choose(QTreeWidgetItem* item) {
    if (!item) return;
    emit Chosen(std::size_t(item->data(0, Qt::UserRole).toULongLong()));
}

}  // namespace quillon
