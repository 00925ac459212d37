// The medium-and-folder chooser export.
#include <cstring>
#include <string>

#include "ui/chooser.h"
#include "ui/exports.h"
#include "ui/renderer.h"
#include "ui/text.h"

using namespace gorget;

GORGET_EXPORT std::int32_t dirOperationCBK(const char* caption, MediumRecord* record) {
    if (record == nullptr) return 0;
    const std::string start(record->path, strnlen(record->path, sizeof record->path));
    ChooserDialog d(caption != nullptr ? from_cp1251(caption) : std::string("Выбор"),
                    from_cp1251(start), record->medium_type, sizeof record->path);
    renderer().run(d);
    if (d.result() != IDOK) return 0;
    std::string narrow;
    // The field refused whatever would not fit the record.
    if (!to_cp1251(d.find(ChooserDialog::kPath)->text, narrow) ||
        narrow.size() > sizeof record->path)
        return 0;
    std::memcpy(record->path, narrow.data(), narrow.size());
    record->medium_type = d.chosen_type();
    return static_cast<std::int32_t>(narrow.size());
}
