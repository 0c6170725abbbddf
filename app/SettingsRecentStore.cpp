#include "app/SettingsRecentStore.h"

#include <QSettings>
#include <QString>
#include <QVariant>

#include "app/QuillonResources.h"

namespace quillon {

std::u16string SettingsRecentStore::Read(const std::u16string& section, const std::u16string& name) {
    QSettings settings(QString::fromLatin1(kOrganisation), QString::fromLatin1(kApplication));
    settings.beginGroup(QString::fromStdU16String(section));
    const QVariant value = settings.value(QString::fromStdU16String(name));
    // A value that is not a plain text reads as a free place.
    if (value.typeId() != QMetaType::QString) return {};
    return value.toString().toStdU16String();
}

void SettingsRecentStore::Write(const std::u16string& section, const std::u16string& name,
                                const std::u16string& value) {
    QSettings settings(QString::fromLatin1(kOrganisation), QString::fromLatin1(kApplication));
    settings.beginGroup(QString::fromStdU16String(section));
    settings.setValue(QString::fromStdU16String(name), QString::fromStdU16String(value));
}

}  // namespace quillon
