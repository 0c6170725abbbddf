#pragma once
// The main dialog: recent-files drop-down and Open button, element tree,
// property list, picture button, size label and the hex view of the open file.
// The document logic lives in doc/ (QuillonDocument, RecentFiles); this
// class shows it and routes the user's actions to it.
#include <QDialog>
#include <QModelIndex>
#include <QPixmap>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "document/QuillonDocument.h"
#include "document/RecentFiles.h"

class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QTableWidget;
class QTreeView;
class MCWndHexEditor;
class QTimer;

namespace quillon {

class HexByteSource;
class Navigation;
class ProblemsList;
class ElementTreeModel;

// Control identifiers of template 102 (property "controlId" of each widget).
enum ControlId {
    IDC_EXIT = 2,
    IDC_OPEN = 1001,
    IDC_RECENT = 1002,
    IDC_TREE = 1003,
    IDC_PROPERTIES = 1004,
    IDC_HEXVIEW_FRAME = 1005,
    IDC_SIZE = 1006,
    IDC_LINK = 1010,
    IDC_PICTURE = 1011,
};

class CQuillonDlg : public QDialog {
    Q_OBJECT

public:
    // `store` keeps the recent list (the per-user settings when null);
    // `document` is the document shown (a plain one when null; tests steer theirs).
    explicit CQuillonDlg(QWidget* parent = nullptr, std::unique_ptr<RecentStore> store = nullptr,
                         std::unique_ptr<QuillonDocument> document = nullptr);
    ~CQuillonDlg() override;

    // False when the dialog could not be set up (the hex view could not be
    // created); exec() then returns -1 at once.
    bool Initialised() const { return m_initialised; }
    int exec() override;

    // Opening: the one place where a document is torn down and built. It
    // returns once the elements are read; the thumbnails follow (see
    // ApplyThumbnails).
    void OpenDocument(const QString& path);

    // The thumbnails made since the last look reach the window: the picture
    // of a selected frame that was being decoded, the progress in the
    // status area, and (at most a few times a second, or now with `now`) the
    // frame-decode problems in the tree and the problems list. Runs on the
    // window's thread when a worker says a thumbnail is final.
    void ApplyThumbnails(bool now = false);
    // For the tools and the tests: waits for every thumbnail, or for the one
    // the picture waits for (none: returns at once), and applies them now.
    void WaitForThumbnails();
    void WaitForPicture();
    // The frame whose thumbnail the picture waits for ("decoding..."), if any.
    std::optional<std::size_t> PictureWaitsFor() const { return m_pictureFrame; }
    // A path chosen in the file dialog: remembered in the recent list, then opened.
    void OpenAndRemember(const QString& path);
    void ForgetRecentFile(const QString& path);

    // Selection sync: fill the property list for a tree item, and select the
    // outermost element under the hex view's caret.
    void ShowElement(const QModelIndex& item);
    void GoToElementAtCaret();

    // The record of the selected tree item; none for the root or no selection.
    std::optional<std::size_t> CurrentRecord() const;
    // Selects the tree item of a record (the root for none) as a click in the
    // hex view does: expanded and scrolled into view. With `showAgain` an item
    // that is already selected is shown again (highlight and scroll).
    void SelectRecord(std::optional<std::size_t> record, bool showAgain = false);
    // The folder the Open button's file dialog starts in: that of the last
    // file opened, else that of the newest entry of the recent list.
    QString OpenFolder() const;
    // Lets the user resize the window (the tree and the hex view take the
    // room) and makes it no larger than `available`.
    void AllowResizing(const QRect& available);

    // A system command (the About item is IDM_ABOUTBOX).
    void OnSysCommand(int id);

    // Load problems: the "Problems..." item of the context menus (disabled
    // when there are none), the list it opens, and a problem chosen there,
    // whose element is selected as a click on the tree selects it (the root
    // for a problem of no element).
    QAction* AddProblemsItem(QMenu& menu);
    void ShowProblems();
    void ShowProblem(std::size_t problem);
    quillon::ProblemsList* ProblemsList() const { return m_problemsList; }

    // The file dialog of the Open button; tests replace it. It returns the
    // chosen path, or an empty text when the user cancels.
    using FileChooser = std::function<QString(QWidget* parent)>;
    void SetFileChooser(FileChooser chooser) { m_fileChooser = std::move(chooser); }
    static QString ChooseFileToOpen(QWidget* parent, const QString& folder = QString());

    // For the tests, the tools and the benchmark.
    quillon::QuillonDocument& Document() { return m_document; }
    const quillon::RecentFiles& RecentFiles() const { return m_recent; }
    QTreeView* Tree() const { return m_tree; }
    ElementTreeModel* TreeModel() const { return m_model; }
    QTableWidget* PropertyList() const { return m_list; }
    QComboBox* RecentCombo() const { return m_combo; }
    QPushButton* ExitButton() const { return m_exit; }
    QPushButton* OpenButton() const { return m_open; }
    QPushButton* LinkButton() const { return m_link; }
    QPushButton* PictureButton() const { return m_picture; }
    QLabel* SizeLabel() const { return m_size; }
    // "Thumbnails N of M" while thumbnails are made; hidden otherwise.
    QLabel* ThumbnailProgress() const { return m_thumbnailProgress; }
    QFrame* HexViewFrame() const { return m_hexFrame; }
    MCWndHexEditor* HexView() const { return m_hexView; }

    // When the open file was truncated or rewritten on disk since it was
    // opened, or its path deleted or given to another file: closes the
    // document (no document afterwards, the path stays in the recent list)
    // and says so in the error box, which offers Reload. True when that
    // happened. Runs every second while a document is shown.
    bool CheckFileOnDisk();
    // F5, the context menus and the notice above: opens the path of the
    // document shown last again, as the file is now, and selects the element
    // at the tag path of the one selected before when the new tree has it.
    // Nothing without such a path (no document was shown, or an open failed since).
    void Reload();
    bool CanReload() const { return !m_reloadPath.isEmpty(); }
    const QPixmap& Picture() const { return m_thumbnailBitmap; }
    QString SizeText() const { return m_sizeText; }
    // The widget of a control of template 102, by identifier.
    QWidget* Control(int id) const;
    // Texts of column 1 of the property list.
    QString PropertyValue(int row) const;
    // Go to offset, find, copy, drops and the window's resizing.
    quillon::Navigation* Navigation() const { return m_navigation; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void CreateControls();
    bool OnInitDialog();
    void InitPropertyList();
    void LoadRecentFiles();
    void FillRecentCombo();
    void BuildElementTree(const QString& path);
    void ClearTree();
    void ResetToNoDocument();
    void SetPicture(const QPixmap& picture);
    void OnOpenClicked();
    void OnRecentActivated(int index);
    void OnCurrentChanged(const QModelIndex& current);
    void RefreshProblems();
    void ShowThumbnailProgress();

    std::unique_ptr<quillon::QuillonDocument> m_ownDocument;
    quillon::QuillonDocument& m_document;
    std::unique_ptr<RecentStore> m_store;
    quillon::RecentFiles m_recent;
    FileChooser m_fileChooser;
    bool m_initialised = false;

    QString m_sizeText;
    QPixmap m_thumbnailBitmap;

    QPushButton* m_exit = nullptr;
    QPushButton* m_open = nullptr;
    QComboBox* m_combo = nullptr;
    QTreeView* m_tree = nullptr;
    ElementTreeModel* m_model = nullptr;
    QTableWidget* m_list = nullptr;
    QFrame* m_hexFrame = nullptr;
    QLabel* m_size = nullptr;
    QLabel* m_thumbnailProgress = nullptr;
    // A worker has asked for ApplyThumbnails and it has not run yet.
    std::atomic<bool> m_thumbnailsPosted{false};
    // Refreshes the problems at most a few times a second.
    QTimer* m_problemsRefresh = nullptr;
    // The selected frame whose thumbnail is pending: the picture says
    // "decoding..." until it is final.
    std::optional<std::size_t> m_pictureFrame;
    QPushButton* m_link = nullptr;
    QPushButton* m_picture = nullptr;
    MCWndHexEditor* m_hexView = nullptr;
    // What the hex view reads: the open file's bytes, where they lie.
    std::unique_ptr<HexByteSource> m_hexSource;
    QTimer* m_fileWatch = nullptr;
    quillon::Navigation* m_navigation = nullptr;
    quillon::ProblemsList* m_problemsList = nullptr;
    QString m_lastOpened;
    // What Reload opens and selects: the path of the document shown last,
    // and the selection it had when a change on disk closed it.
    QString m_reloadPath;
    TagPath m_reloadSelection;
};

}  // namespace quillon
