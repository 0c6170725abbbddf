#include "app/LinkButton.h"

#include <QDesktopServices>
#include <QUrl>

namespace quillon {

LinkButton::LinkButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    setStyleSheet(
        QStringLiteral("QPushButton { border: none; padding: 0px; color: #0000FF; "
                       "text-decoration: underline; background: transparent; }"));
    connect(this, &QPushButton::clicked, this, [this] {
        const QString url = property("url").toString();
        if (!url.isEmpty()) QDesktopServices::openUrl(QUrl(url));
    });
}

}  // namespace quillon
