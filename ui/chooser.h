// The key-medium and folder chooser (dialog 1000): the medium type of a key
// container and its folder or device path.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "ui/model.h"

namespace gorget {

struct MediumRow {
    std::int32_t type;
    const char* display_name;
    const char* prefix;
    const char* short_name;
};

// The five media in the order the list shows them.
const std::array<MediumRow, 5>& medium_table();

// The first row whose short name occurs in the path, letter case aside;
// 0 (file system) when none does.
std::int32_t medium_type_of(std::string_view path);

class ChooserDialog : public Dialog {
  public:
    enum : int { kTemplate = 1000, kPath = 1549, kBrowse = 1550, kMedia = 1551, kFrame = 1552 };
    // path: UTF-8; limit: most characters the caller's record holds.
    ChooserDialog(const std::string& caption, const std::string& path, std::int32_t type,
                  std::size_t limit);
    // The chosen medium's type: the selected row, else the path's.
    std::int32_t chosen_type() const;

  protected:
    void changed(int id) override;
    void command(int id) override;

  private:
    void apply_rules();
    void browse();
};

}  // namespace gorget
