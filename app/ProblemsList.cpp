#include "app/ProblemsList.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/QuillonResources.h"

namespace quillon {

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
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->header()->setStretchLastSection(true);
    m_list->header()->setSectionsClickable(false);
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
        auto* row = new QTreeWidgetItem(texts);
        row->setData(0, Qt::UserRole, QVariant::fromValue(qulonglong(i)));
        row->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
        rows << row;
    }
    m_list->addTopLevelItems(rows);
    for (int column = 0; column < 3; ++column) m_list->resizeColumnToContents(column);
}

void ProblemsList::Choose(QTreeWidgetItem* item) {
    if (!item) return;
    emit Chosen(std::size_t(item->data(0, Qt::UserRole).toULongLong()));
}

}  // namespace quillon
