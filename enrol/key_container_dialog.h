// The key-container chooser (dialog 202) as a model the dialog library
// shows: the key media present on the machine ("Носители"), a tree of the
// selected medium's folders (and, choosing a file, its files), listed as
// they are expanded, and the path of the chosen item. It knows no toolkit;
// its rules run where the dialog library runs them.
#pragma once

#include <string>
#include <vector>

#include "enrol/device_table.h"
#include "ui/model.h"

namespace cadb::enrol {

// Window captions (UTF-8): choosing a file, choosing a folder.
inline constexpr const char* kChooseFileCaption = "Выбор файла";
inline constexpr const char* kChooseFolderCaption = "Выбор папки";
// The box shown when a medium refuses to list a folder.
inline constexpr const char* kRefusedText = "Ошибка в пароле доступа!";
inline constexpr const char* kRefusedCaption = "Отказано в доступе";

class KeyContainerDialog : public gorget::Dialog {
  public:
    enum : int { kTemplate = 202, kDevices = 201, kTree = 202, kPath = 203, kRefresh = 204 };

    // start: code page 1251. Folder mode chooses a folder, file mode a file;
    // file_system_only lists no device but the file system.
    KeyContainerDialog(const std::string& start, bool folder_mode, bool file_system_only);

    // The answer (code page 1251): on OK the path field, in folder mode
    // ending in "\"; otherwise the start path.
    std::string answer() const;
    // The table rows the device list holds, in its order.
    const std::vector<std::size_t>& listed_rows() const { return rows_; }

  protected:
    void opening() override;
    void changed(int id) override;
    void command(int id) override;
    void expanding(int id, int index) override;

  private:
    void LoadDevices();
    void LoadTree(std::size_t row);
    // Selects the device of the path field (else keeps the one selected
    // before, when it is still listed) and fills its tree.
    void select_device(int previous_row);
    std::string item_path(int index) const;  // UTF-8
    void apply_rules();

    std::string start_;
    bool folder_mode_;
    bool file_system_only_;
    std::vector<std::size_t> rows_;
    DeviceKind tree_kind_ = kDeviceFileSystem;
};

}  // namespace cadb::enrol
