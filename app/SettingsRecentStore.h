#pragma once
// The recent-files values in the per-user settings (organisation "Brevant",
// application "Quillon").
#include <string>

#include "document/RecentFiles.h"

namespace quillon {

class SettingsRecentStore : public RecentStore {
public:
    std::u16string Read(const std::u16string& section, const std::u16string& name) override;
    void Write(const std::u16string& section, const std::u16string& name, const std::u16string& value) override;
};

}  // namespace quillon
