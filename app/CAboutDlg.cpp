#include "app/CAboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/DialogUnits.h"
#include "app/QuillonResources.h"

namespace quillon {

namespace {

QLabel* Static(const QString& text, const QRect& r, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(r);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Quillon"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    const DialogUnits du(font());
    setFixedSize(du.MapSize(205, 114));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    const QRect iconRect = du.Map(11, 17, 20, 20);
    icon->setGeometry(iconRect.x(), iconRect.y(), 32, 32);
    icon->setPixmap(ApplicationIcon().pixmap(32, 32));

    Static(QStringLiteral("Quillon"), du.Map(50, 17, 148, 8), this)->setObjectName(QStringLiteral("productName"));
    m_version = Static(QStringLiteral("Version " QUILLON_VERSION), du.Map(50, 29, 87, 8), this);
    m_version->setObjectName(QStringLiteral("version"));
    m_version->setProperty("controlId", 1009);
    Static(QString::fromLatin1(kAboutNotice), du.Map(50, 51, 132, 8), this);
    Static(QString::fromLatin1(kAboutWeb), du.Map(50, 64, 132, 8), this);
    Static(QString::fromLatin1(kAboutMail), du.Map(50, 76, 132, 8), this);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("okButton"));
    m_ok->setGeometry(du.Map(148, 91, 50, 16));
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

    OnInitDialog();
}

void CAboutDlg::OnInitDialog() {
    m_version->setText(m_version->text() + QStringLiteral(" (64 bit)"));
    m_ok->setFocus(Qt::OtherFocusReason);
}

}  // namespace quillon
