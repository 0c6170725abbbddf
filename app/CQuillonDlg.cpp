#include "app/CQuillonDlg.h"

#include <algorithm>
#include <climits>
#include <memory>

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QStyleFactory>
#include <QTableWidget>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include "app/CAboutDlg.h"
#include "app/LinkButton.h"
#include "app/DialogUnits.h"
#include "app/ElementTreeModel.h"
#include "app/MessageBox.h"
#include "app/Navigation.h"
#include "app/ProblemsList.h"
#include "app/QuillonResources.h"
#include "app/SettingsRecentStore.h"
#include "app/ThumbnailCanvas.h"
#include "document/ElementSearch.h"
#include "hexview/MCWndHexEditor.h"

namespace quillon {

namespace {

QWidget* Tagged(QWidget* w, int id, const char* name) {
    w->setProperty("controlId", id);
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QFrame* EtchedFrame(QWidget* parent) {
    auto* frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    frame->setLineWidth(1);
    frame->setMidLineWidth(0);
    return frame;
}

const QColor kEvenRow(0xE0, 0xE0, 0xE0);
const QColor kOddRow(0xFF, 0xFF, 0xFF);

}  // namespace

namespace {

// The hex view's bytes: the open document's file, read where it lies.
class FileBytesHexSource : public HexByteSource {
public:
    explicit FileBytesHexSource(std::shared_ptr<quillon::FileBytes> bytes) : m_bytes(std::move(bytes)) {}
    bool ReadBytes(quint64 offset, std::uint8_t* dst, std::size_t n) const override {
        return m_bytes && m_bytes->Read(offset, dst, n);
    }

private:
    std::shared_ptr<quillon::FileBytes> m_bytes;
};

}  // namespace

// ---------------------------------------------------------------------------
// Construction, layout of template 102 and initialisation

CQuillonDlg::CQuillonDlg(QWidget* parent, std::unique_ptr<RecentStore> store, std::unique_ptr<QuillonDocument> document)
    : QDialog(parent),
      m_ownDocument(document ? std::move(document) : std::make_unique<QuillonDocument>()),
      m_document(*m_ownDocument),
      m_store(store ? std::move(store) : std::make_unique<SettingsRecentStore>()),
      m_recent(*m_store),
      m_sizeText(QStringLiteral("Size : 0")) {
    CreateControls();
    // Workers only post the news; the window's thread reads it.
    m_document.SetThumbnailHandler([this] {
        if (!m_thumbnailsPosted.exchange(true))
            QMetaObject::invokeMethod(
                this, [this] { ApplyThumbnails(); }, Qt::QueuedConnection);
    });
    m_initialised = OnInitDialog();
}

CQuillonDlg::~CQuillonDlg() {
    // The child widgets outlive this body: the navigation's filter must not
    // see their last events, when this is no longer a dialog of ours.
    if (m_navigation) {
        if (m_tree) m_tree->removeEventFilter(m_navigation);
        removeEventFilter(m_navigation);
    }
    // The link button's address and tooltip go first, then the hex view gives
    // up the buffer before the document frees it.
    if (m_link) {
        m_link->setProperty("url", QVariant());
        m_link->setToolTip(QString());
    }
    if (m_hexView) {
        // Quietly: the caret's watchers (status line, state file) are going too.
        const QSignalBlocker quiet(m_hexView);
        m_hexView->SetData(nullptr, 0);
    }
    m_hexSource.reset();
    m_model->Clear();
    m_document.Close();
}

void CQuillonDlg::CreateControls() {
    setWindowTitle(QString::fromLatin1(kAppTitle));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    const DialogUnits du(font());
    setFixedSize(du.MapSize(563, 404));

    // Controls in tab order.
    m_exit = new QPushButton(QStringLiteral("E&xit"), this);
    Tagged(m_exit, IDC_EXIT, "exitButton");
    m_exit->setGeometry(du.Map(506, 383, 50, 14));

    QFrame* fileFrame = EtchedFrame(this);
    fileFrame->setGeometry(du.Map(7, 7, 549, 23));

    auto* fileLabel = new QLabel(QStringLiteral("File:"), this);
    fileLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
    fileLabel->setGeometry(du.Map(11, 12, 22, 10));

    m_open = new QPushButton(QStringLiteral("Open..."), this);
    Tagged(m_open, IDC_OPEN, "openButton");
    m_open->setGeometry(du.Map(343, 11, 50, 14));

    m_combo = new QComboBox(this);
    Tagged(m_combo, IDC_RECENT, "recentCombo");
    m_combo->setEditable(false);
    m_combo->setMaxVisibleItems(8);
    {
        // 210 units is the height of the opened list; the closed box is one
        // text line high, as tall as the Open button beside it.
        const QRect r = du.Map(40, 11, 299, 210);
        const QRect button = du.Map(343, 11, 50, 14);
        m_combo->setGeometry(r.x(), r.y(), r.width(), button.height());
    }

    m_tree = new QTreeView(this);
    Tagged(m_tree, IDC_TREE, "elementTree");
    m_tree->setGeometry(du.Map(7, 32, 203, 323));
    m_model = new ElementTreeModel(m_tree);
    m_tree->setModel(m_model);
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(true);
    m_tree->setUniformRowHeights(true);
    m_tree->setItemsExpandable(true);
    m_tree->setExpandsOnDoubleClick(true);
    m_tree->setDragEnabled(false);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_tree->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_tree->setIndentation(19);
    m_tree->header()->setStretchLastSection(false);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    // Buttons and dotted lines, as a tree with lines at the root draws them.
    if (QStyle* lines = QStyleFactory::create(QStringLiteral("Windows"))) {
        lines->setParent(m_tree);
        m_tree->setStyle(lines);
    }
    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) { OnCurrentChanged(current); });

    m_list = new QTableWidget(this);
    Tagged(m_list, IDC_PROPERTIES, "propertyList");
    m_list->setGeometry(du.Map(215, 33, 232, 96));

    m_hexFrame = EtchedFrame(this);
    Tagged(m_hexFrame, IDC_HEXVIEW_FRAME, "hexViewFrame");
    m_hexFrame->setGeometry(du.Map(216, 134, 340, 244));

    QFrame* sizeFrame = EtchedFrame(this);
    sizeFrame->setGeometry(du.Map(7, 360, 203, 18));

    m_size = new QLabel(QStringLiteral("Size: "), this);
    Tagged(m_size, IDC_SIZE, "sizeLabel");
    m_size->setGeometry(du.Map(11, 364, 193, 8));
    m_size->setTextFormat(Qt::PlainText);

    // In the size's box, at its right end.
    m_thumbnailProgress = new QLabel(this);
    m_thumbnailProgress->setObjectName(QStringLiteral("thumbnailProgress"));
    m_thumbnailProgress->setGeometry(du.Map(104, 364, 100, 8));
    m_thumbnailProgress->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_thumbnailProgress->setTextFormat(Qt::PlainText);
    m_thumbnailProgress->hide();

    auto* notice = new QLabel(QString::fromLatin1(kMakerNotice), this);
    notice->setGeometry(du.Map(7, 386, 80, 10));

    m_link = new quillon::LinkButton(QStringLiteral("Brevant"), this);
    Tagged(m_link, IDC_LINK, "linkButton");
    m_link->setGeometry(du.Map(88, 384, 34, 12));

    m_picture = new QPushButton(QStringLiteral("Button1"), this);
    Tagged(m_picture, IDC_PICTURE, "pictureButton");
    m_picture->setGeometry(du.Map(452, 33, 104, 96));
    m_picture->setFlat(true);
    m_picture->setText(QString());
    m_picture->setIconSize(QSize(128, 128));

    // Enter is the dialog's: no button takes it as the default.
    for (QPushButton* b : {m_exit, m_open, m_link, m_picture}) {
        b->setAutoDefault(false);
        b->setDefault(false);
        b->setFocusPolicy(Qt::StrongFocus);
    }
    m_combo->setFocusPolicy(Qt::StrongFocus);
    m_tree->setFocusPolicy(Qt::StrongFocus);
    m_list->setFocusPolicy(Qt::StrongFocus);
    QWidget::setTabOrder(m_exit, m_open);
    QWidget::setTabOrder(m_open, m_combo);
    QWidget::setTabOrder(m_combo, m_tree);
    QWidget::setTabOrder(m_tree, m_list);
    QWidget::setTabOrder(m_list, m_link);
    QWidget::setTabOrder(m_link, m_picture);

    connect(m_exit, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_open, &QPushButton::clicked, this, &CQuillonDlg::OnOpenClicked);
    connect(m_combo, &QComboBox::activated, this, &CQuillonDlg::OnRecentActivated);
}

bool CQuillonDlg::OnInitDialog() {
    m_size->setText(m_sizeText);
    // The About item lives in the dialog's context menu (see contextMenuEvent):
    // the window's system menu is not reachable here.
    setWindowIcon(ApplicationIcon());
    InitPropertyList();

    m_hexView = new MCWndHexEditor();
    if (!m_hexView->Create(this)) {
        delete m_hexView;
        m_hexView = nullptr;
        ShowErrorBox(this, QStringLiteral("I cannot create editor window    "));
        return false;
    }
    m_hexView->setGeometry(m_hexFrame->geometry());
    m_hexView->raise();
    m_hexView->update();
    connect(m_hexView, &MCWndHexEditor::Command, this, [this](int id) {
        if (id == MCWndHexEditor::ID_HEXVIEW_LOCATE) GoToElementAtCaret();
    });

    m_thumbnailBitmap = DefaultPicture();
    SetPicture(m_thumbnailBitmap);

    m_link->setProperty("url", QString::fromLatin1(kMakerUrl));
    m_link->setToolTip(QStringLiteral("Visit Brevant site"));
    m_link->resize(m_link->sizeHint());

    LoadRecentFiles();
    m_navigation = new quillon::Navigation(*this);
    // The first tab stop, the Exit button, starts with the focus.
    m_exit->setFocus(Qt::OtherFocusReason);
    return true;
}

int CQuillonDlg::exec() {
    if (!m_initialised) return -1;
    return QDialog::exec();
}

QWidget* CQuillonDlg::Control(int id) const {
    switch (id) {
        case IDC_EXIT: return m_exit;
        case IDC_OPEN: return m_open;
        case IDC_RECENT: return m_combo;
        case IDC_TREE: return m_tree;
        case IDC_PROPERTIES: return m_list;
        case IDC_HEXVIEW_FRAME: return m_hexFrame;
        case IDC_SIZE: return m_size;
        case IDC_LINK: return m_link;
        case IDC_PICTURE: return m_picture;
        case MCWndHexEditor::kControlId: return m_hexView;
        default: return nullptr;
    }
}

void CQuillonDlg::keyPressEvent(QKeyEvent* event) {
    const bool plain = event->modifiers() == Qt::NoModifier ||
                       (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        // A focused push button takes Enter as its click; anywhere else Enter
        // ends the dialog like Exit does.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
            return;
        }
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CQuillonDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    const QString about = LoadString(IDS_ABOUTBOX);
    if (!about.isEmpty()) {
        QAction* action = menu.addAction(about);
        action->setData(IDM_ABOUTBOX);
        connect(action, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
    }
    AddProblemsItem(menu);
    QAction* reload = menu.addAction(QStringLiteral("&Reload"), this, [this] { Reload(); });
    reload->setShortcut(QKeySequence(Qt::Key_F5));
    reload->setEnabled(CanReload());
    menu.exec(event->globalPos());
}

QAction* CQuillonDlg::AddProblemsItem(QMenu& menu) {
    QAction* action = menu.addAction(QStringLiteral("Problems..."), this, [this] { ShowProblems(); });
    action->setEnabled(!m_document.Problems().Empty());
    return action;
}

void CQuillonDlg::ShowProblems() {
    if (!m_problemsList) {
        m_problemsList = new quillon::ProblemsList(this);
        connect(m_problemsList, &ProblemsList::Chosen, this, &CQuillonDlg::ShowProblem);
    }
    m_problemsList->Fill(m_document.Problems());
    m_problemsList->show();
    m_problemsList->raise();
    m_problemsList->activateWindow();
}

void CQuillonDlg::ShowProblem(std::size_t problem) {
    const quillon::DocumentProblems& problems = m_document.Problems();
    if (problem >= problems.Size() || !m_document.IsOpen()) return;
    const DocumentProblem& chosen = problems[problem];
    SelectRecord(chosen.record, true);
    // A problem of no element (bytes after the data set, say) still shows
    // where it is: the root is selected and the bytes there light up.
    const uint64_t size = m_document.DataSize();
    if (!chosen.record && chosen.problem.offset < size) {
        const uint64_t last = chosen.problem.code == ProblemCode::TrailingBytes ? size - 1 : chosen.problem.offset;
        m_hexView->SetHighlight(chosen.problem.offset, last);
    }
}

void CQuillonDlg::RefreshProblems() {
    if (m_problemsList) m_problemsList->Fill(m_document.Problems());
}

void CQuillonDlg::OnSysCommand(int id) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.exec();
    }
}

// ---------------------------------------------------------------------------
// Property list

void CQuillonDlg::InitPropertyList() {
    m_list->setColumnCount(2);
    m_list->setRowCount(int(kPropertyRows));
    m_list->setHorizontalHeaderLabels({QStringLiteral("Property"), QStringLiteral("Value")});
    QHeaderView* header = m_list->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    m_list->setColumnWidth(0, 100);
    m_list->setColumnWidth(1, 220);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    const int rowHeight = QFontMetrics(m_list->font()).height() + 4;
    m_list->verticalHeader()->setMinimumSectionSize(rowHeight);
    m_list->verticalHeader()->setDefaultSectionSize(rowHeight);
    m_list->setShowGrid(true);
    m_list->setGridStyle(Qt::SolidLine);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setTabKeyNavigation(false);  // Tab moves on to the next control
    m_list->setWordWrap(false);
    m_list->setTextElideMode(Qt::ElideNone);
    m_list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    for (int row = 0; row < int(kPropertyRows); ++row) {
        for (int column = 0; column < 2; ++column) {
            auto* item = new QTableWidgetItem(column == 0 ? QString::fromStdU16String(kPropertyNames[row]) : QString());
            item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            item->setBackground(row % 2 == 0 ? kEvenRow : kOddRow);
            item->setForeground(Qt::black);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            m_list->setItem(row, column, item);
        }
    }
}

QString CQuillonDlg::PropertyValue(int row) const {
    const QTableWidgetItem* item = m_list->item(row, 1);
    return item ? item->text() : QString();
}

void CQuillonDlg::SetPicture(const QPixmap& picture) { m_picture->setIcon(QIcon(picture)); }

// ---------------------------------------------------------------------------
// Open flow

void CQuillonDlg::OpenDocument(const QString& path) {
    WaitCursor wait;
    // Back to no document: picture, hex view, tree; then the document's own
    // teardown (thumbnails, bytes, records, parsed file) inside Open.
    m_thumbnailBitmap = DefaultPicture();
    SetPicture(m_thumbnailBitmap);
    m_hexView->SetData(nullptr, 0);
    m_hexView->SetUnreadRange(MCWndHexEditor::kNone, MCWndHexEditor::kNone);
    m_hexView->SetInflatedFrom(MCWndHexEditor::kNone);
    m_hexSource.reset();
    ClearTree();

    m_pictureFrame.reset();
    m_thumbnailProgress->hide();

    // Inflating a deflated data set can take a while: after half a second a
    // progress box counts the compressed bytes inflated (in KiB). The
    // thumbnails are made after the open, without a box.
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QProgressDialog> progress;
    m_document.SetProgressHandler([&](quillon::OpenStage, std::size_t done, std::size_t total) {
        done /= 1024;
        total /= 1024;
        const int maximum = int(std::min<std::size_t>(total, INT_MAX));
        if (!progress) {
            if (done >= total || clock.elapsed() < 500) return;
            progress = std::make_unique<QProgressDialog>(this);
            progress->setWindowTitle(windowTitle());
            progress->setCancelButton(nullptr);
            progress->setWindowModality(Qt::WindowModal);
            progress->setMinimumDuration(0);
        }
        if (progress->maximum() != maximum) progress->setRange(0, maximum);
        progress->setLabelText(QStringLiteral("Inflating the data set: %1 of %2 KiB").arg(done).arg(total));
        progress->setValue(int(std::min<std::size_t>(done, INT_MAX)));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    const OpenResult result = m_document.Open(path.toStdU16String());
    m_document.SetProgressHandler({});
    progress.reset();
    if (!result.Opened()) {
        m_reloadPath.clear();
        RefreshProblems();
        if (!result.message.empty()) ShowErrorBox(this, QString::fromStdU16String(result.Text()));
        ResetToNoDocument();
        if (result.forgetPath) ForgetRecentFile(path);
        return;
    }
    // A file read only part way: the box says where reading stopped, then
    // the document shows what was read.
    if (result.partial) ShowErrorBox(this, QString::fromStdU16String(result.Text()));

    // The new bytes reach the screen in one repaint.
    m_hexView->setUpdatesEnabled(false);
    m_hexSource = std::make_unique<FileBytesHexSource>(m_document.Source());
    m_hexView->SetSource(m_hexSource.get(), m_document.DataSize());
    // A deflated file: the view marks where its inflated data set begins.
    m_hexView->SetInflatedFrom(m_document.InflatedFrom().value_or(MCWndHexEditor::kNone));
    m_hexView->setUpdatesEnabled(true);
    m_sizeText = QString::fromStdU16String(quillon::SizeText(m_document.DataSize()));
    m_hexView->update();
    BuildElementTree(path);
    RefreshProblems();
    m_size->setText(m_sizeText);
    ShowThumbnailProgress();
    m_lastOpened = path;
    m_reloadPath = path;
    m_reloadSelection.clear();
    if (result.partial) {
        // The stop, first in the list, is chosen: the root with the unread
        // bytes, and the view at the byte where reading stopped.
        ShowProblems();
        if (QTreeWidgetItem* stop = m_problemsList->List()->topLevelItem(0))
            m_problemsList->List()->setCurrentItem(stop);
        ShowProblem(0);
    }
    if (!m_fileWatch) {
        m_fileWatch = new QTimer(this);
        connect(m_fileWatch, &QTimer::timeout, this, [this] { CheckFileOnDisk(); });
    }
    m_fileWatch->start(1000);
}

bool CQuillonDlg::CheckFileOnDisk() {
    if (!m_document.IsOpen()) {
        if (m_fileWatch) m_fileWatch->stop();
        return false;
    }
    if (!m_document.FileChanged()) return false;
    // What was loaded may no longer match the file: the document goes
    // before the box is shown, so nothing reads the file meanwhile.
    if (m_fileWatch) m_fileWatch->stop();
    const std::optional<std::size_t> selected = CurrentRecord();
    m_reloadSelection = selected ? m_document.TagPathOf(*selected) : TagPath();
    m_thumbnailBitmap = DefaultPicture();
    SetPicture(m_thumbnailBitmap);
    m_hexView->SetData(nullptr, 0);
    m_hexView->SetUnreadRange(MCWndHexEditor::kNone, MCWndHexEditor::kNone);
    m_hexView->SetInflatedFrom(MCWndHexEditor::kNone);
    m_hexSource.reset();
    ClearTree();
    m_document.Close();
    m_pictureFrame.reset();
    m_thumbnailProgress->hide();
    RefreshProblems();
    ResetToNoDocument();
    if (ShowErrorBoxWithChoice(this, QString::fromStdU16String(quillon::kMsgFileChanged), QStringLiteral("&Reload")))
        Reload();
    return true;
}

void CQuillonDlg::Reload() {
    if (m_reloadPath.isEmpty()) return;
    const std::optional<std::size_t> selected = m_document.IsOpen() ? CurrentRecord() : std::nullopt;
    const TagPath at = selected ? m_document.TagPathOf(*selected) : m_reloadSelection;
    const QString path = m_reloadPath;
    OpenDocument(path);
    if (!m_document.IsOpen() || at.empty()) return;
    if (const std::optional<std::size_t> record = m_document.RecordOfTagPath(at)) SelectRecord(*record);
}

void CQuillonDlg::ResetToNoDocument() {
    m_hexView->update();
    m_sizeText = QStringLiteral("Size : 0");
    m_size->setText(m_sizeText);
    ClearTree();
}

void CQuillonDlg::ClearTree() {
    if (m_model->IsEmpty()) return;
    const bool hadSelection = m_tree->currentIndex().isValid();
    m_model->Clear();
    // Deleting the selected item is a selection change to no item, seen
    // without a tree table: blank values, the default picture, and the hex
    // view's highlight left as it is.
    m_pictureFrame.reset();
    if (hadSelection) {
        m_thumbnailBitmap = DefaultPicture();
        for (int row = 0; row < int(kPropertyRows); ++row)
            if (QTableWidgetItem* cell = m_list->item(row, 1)) cell->setText(QStringLiteral(" "));
        SetPicture(m_thumbnailBitmap);
    }
}

void CQuillonDlg::BuildElementTree(const QString& path) {
    ClearTree();
    if (!m_document.IsOpen()) return;
    m_model->SetRecords(&m_document.Records(), QString::fromStdU16String(m_document.RootLabel(path.toStdU16String())),
                        &m_document.Problems(),
                        [this](std::size_t record) { return QString::fromStdU16String(m_document.Label(record)); });
    m_tree->expand(m_model->RootIndex());
}

// ---------------------------------------------------------------------------
// Selection sync

void CQuillonDlg::OnCurrentChanged(const QModelIndex& current) { ShowElement(current); }

void CQuillonDlg::ShowElement(const QModelIndex& item) {
    m_thumbnailBitmap = DefaultPicture();
    m_pictureFrame.reset();
    const ElementProperties p = m_document.Properties(m_model->RecordOf(item));
    for (int row = 0; row < int(kPropertyRows); ++row) {
        if (QTableWidgetItem* cell = m_list->item(row, 1)) cell->setText(QString::fromStdU16String(p.values[row]));
    }
    switch (p.highlight) {
        case HighlightRequest::Keep: break;
        case HighlightRequest::Clear:
            m_hexView->SetHighlight(MCWndHexEditor::kNoOffset, MCWndHexEditor::kNoOffset);
            break;
        case HighlightRequest::Range: m_hexView->SetHighlight(p.first, p.last); break;
    }
    if (p.unread)
        m_hexView->SetUnreadRange(p.unread->first, p.unread->second);
    else
        m_hexView->SetUnreadRange(MCWndHexEditor::kNone, MCWndHexEditor::kNone);
    // A frame's thumbnail replaces the default picture; a frame whose
    // thumbnail could not be made shows the cleared (black) picture. One
    // still being made goes next, and the picture says so until it is final.
    if (p.thumbnail) {
        if (m_document.ThumbnailStateOf(*p.thumbnail) == ThumbnailState::Pending) {
            m_document.PrioritiseThumbnail(*p.thumbnail);
            m_pictureFrame = *p.thumbnail;
            m_thumbnailBitmap = DecodingPicture();
        } else {
            m_thumbnailBitmap = LoadFromMCImage(m_document.Thumbnail(*p.thumbnail), ScreenDepth());
        }
    }
    SetPicture(m_thumbnailBitmap);
}

// ---------------------------------------------------------------------------
// Thumbnails made in the background

void CQuillonDlg::ApplyThumbnails(bool now) {
    m_thumbnailsPosted = false;
    const ThumbnailNews news = m_document.CollectThumbnails();
    if (m_pictureFrame && m_document.ThumbnailStateOf(*m_pictureFrame) != ThumbnailState::Pending) {
        m_thumbnailBitmap = LoadFromMCImage(m_document.Thumbnail(*m_pictureFrame), ScreenDepth());
        m_pictureFrame.reset();
        SetPicture(m_thumbnailBitmap);
    }
    ShowThumbnailProgress();
    if (news.problems == 0 && !now) return;
    // The list, and the tree's marks of the frames that failed.
    const auto showProblems = [this] {
        RefreshProblems();
        m_tree->viewport()->update();
    };
    if (!m_problemsRefresh) {
        m_problemsRefresh = new QTimer(this);
        m_problemsRefresh->setSingleShot(true);
        m_problemsRefresh->setInterval(250);
        connect(m_problemsRefresh, &QTimer::timeout, this, showProblems);
    }
    if (now) {
        m_problemsRefresh->stop();
        showProblems();
    } else if (!m_problemsRefresh->isActive()) {
        m_problemsRefresh->start();
    }
}

void CQuillonDlg::ShowThumbnailProgress() {
    const std::size_t total = m_document.ThumbnailFrames();
    const std::size_t done = m_document.ThumbnailsFinished();
    if (!m_document.IsOpen() || total == 0 || done >= total) {
        m_thumbnailProgress->hide();
        return;
    }
    m_thumbnailProgress->setText(QStringLiteral("Thumbnails %1 of %2").arg(done).arg(total));
    m_thumbnailProgress->show();
}

void CQuillonDlg::WaitForThumbnails() {
    m_document.WaitForThumbnails();
    ApplyThumbnails(true);
}

void CQuillonDlg::WaitForPicture() {
    if (m_pictureFrame) m_document.WaitForThumbnail(*m_pictureFrame);
    ApplyThumbnails(true);
}

void CQuillonDlg::GoToElementAtCaret() {
    const quint64 caret = m_hexView->GetCaretOffset();
    // Another click inside the selected element goes one element further in.
    std::optional<std::size_t> target;
    if (caret != MCWndHexEditor::kNone) target = ClickTarget(m_document, CurrentRecord(), caret);
    SelectRecord(target);
}

std::optional<std::size_t> CQuillonDlg::CurrentRecord() const { return m_model->RecordOf(m_tree->currentIndex()); }

void CQuillonDlg::SelectRecord(std::optional<std::size_t> record, bool showAgain) {
    const QModelIndex root = m_model->RootIndex();
    QModelIndex target = root;
    if (record) target = m_model->IndexOfRecord(*record);
    if (!target.isValid()) return;
    const bool same = m_tree->currentIndex() == target;
    m_tree->setCurrentIndex(target);
    if (target != root) m_tree->expand(target);
    m_tree->scrollTo(target);
    if (same && showAgain) ShowElement(target);
}

QString CQuillonDlg::OpenFolder() const {
    QString path = m_lastOpened;
    if (path.isEmpty() && !m_recent.Entries().empty()) {
        // New paths take the first free place, or the last one of a full list.
        path = QString::fromStdU16String(m_recent.Entries().back());
    }
    return path.isEmpty() ? QString() : QFileInfo(path).absolutePath();
}

void CQuillonDlg::AllowResizing(const QRect& available) {
    if (m_navigation) m_navigation->AllowResizing(available);
}

// ---------------------------------------------------------------------------
// Recent files

void CQuillonDlg::LoadRecentFiles() {
    m_recent.Load();
    FillRecentCombo();
}

void CQuillonDlg::FillRecentCombo() {
    m_combo->clear();
    for (const auto& entry : m_recent.Entries()) m_combo->addItem(QString::fromStdU16String(entry));
    m_combo->setCurrentIndex(-1);
}

void CQuillonDlg::OpenAndRemember(const QString& path) {
    WaitCursor wait;
    const auto r = m_recent.Remember(path.toStdU16String());
    switch (r.change) {
        case quillon::RecentFiles::Change::Existing: break;
        case quillon::RecentFiles::Change::Inserted: m_combo->insertItem(int(r.entry), path); break;
        case quillon::RecentFiles::Change::Shifted:
            m_combo->clear();
            for (const auto& place : m_recent.Places()) m_combo->addItem(QString::fromStdU16String(place));
            break;
    }
    m_combo->setCurrentIndex(int(r.entry));
    OpenDocument(path);
}

void CQuillonDlg::ForgetRecentFile(const QString& path) {
    m_recent.Forget(path.toStdU16String());
    FillRecentCombo();
}

void CQuillonDlg::OnRecentActivated(int index) {
    if (index >= 0) OpenDocument(m_combo->itemText(index));
    m_tree->setFocus(Qt::OtherFocusReason);
}

QString CQuillonDlg::ChooseFileToOpen(QWidget* parent, const QString& folder) {
    QFileDialog dialog(parent);
    if (!folder.isEmpty()) dialog.setDirectory(folder);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::ReadOnly, true);
    // DICOM files by their usual names first; many have no extension at all,
    // hence the second filter.
    dialog.setNameFilters({QStringLiteral("DICOM files (*.dcm *.dicom DICOMDIR)"), QStringLiteral("All files (*)")});
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

void CQuillonDlg::OnOpenClicked() {
    const QString path = m_fileChooser ? m_fileChooser(this) : ChooseFileToOpen(this, OpenFolder());
    if (!path.isEmpty()) OpenAndRemember(path);
}

}  // namespace quillon
