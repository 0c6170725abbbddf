#pragma once
// The About box, template 100.
#include <QDialog>

class QLabel;
class QPushButton;

namespace quillon {

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QLabel* VersionLabel() const { return m_version; }
    QPushButton* OkButton() const { return m_ok; }

private:
    void OnInitDialog();

    QLabel* m_version = nullptr;
    QPushButton* m_ok = nullptr;
};

}  // namespace quillon
