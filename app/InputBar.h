#pragma once
// A small bar with a prompt, a line edit and a message, laid over the bottom
// of the hex view while it is used: the window's layout is untouched while it
// is hidden. Enter submits the text, Esc hides the bar; neither reaches the
// dialog, which would close on them.
#include <QFrame>
#include <QString>

class QLabel;
class QLineEdit;

namespace quillon {

class InputBar : public QFrame {
    Q_OBJECT

public:
    InputBar(const QString& prompt, const QString& name, QWidget* parent);

    // Shows the bar over `area` (parent coordinates) with the text selected
    // and the keyboard focus in it.
    void Open(const QRect& area);
    // Places the bar over the bottom of `area` (for a resized window).
    void Place(const QRect& area);
    // Hides the bar and clears its message.
    void Close();

    QLineEdit* Edit() const { return m_edit; }
    QString Text() const;
    // A message beside the text, shown until the next submit or close.
    void ShowMessage(const QString& text);
    QString Message() const;

signals:
    void Submitted(const QString& text);
    void Closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_prompt = nullptr;
    QLineEdit* m_edit = nullptr;
    QLabel* m_message = nullptr;
};

}  // namespace quillon
