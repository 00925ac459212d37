// The library's string table: texts other modules and the dialogs read by
// number, stored here as UTF-8 and handed out in code page 1251.
#pragma once

#include <string>

namespace gorget {

enum StringId : int {
    IDS_OPERATION_RUNNING = 3,
    IDS_CONTAINER_FRAME = 4,
    IDS_CERTIFICATES = 5,
    IDS_STEP = 6,
    IDS_QUIT_QUESTION = 7,
    IDS_WARNING = 8,
    IDS_SHARE_CONFIRM = 9,
    IDS_RANDOM_SENSOR = 10,
    IDS_SEED_CANCELLED = 11,
    IDS_CERT_FILTER = 12,
    IDS_SAVE_CONFIRM = 13,
    IDS_SAVE_TITLE = 14,
    IDS_WRITE_FAILED = 15,
    IDS_ERROR = 16,
    IDS_CLIENT_CERT = 17,
    IDS_CA_CERT = 18,
    IDS_CHOOSE_FOLDER = 19,
    IDS_SAVE_AS = 20,
    IDS_MESSAGE = 34,
    IDS_QUESTION = 35,
    IDS_INSERT_MEDIUM = 88,
};

// The text of id in UTF-8; empty when the table has none.
const std::string& ui_string(int id);

}  // namespace gorget
