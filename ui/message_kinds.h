// The library's message boxes by kind: caption and buttons follow from the
// kind alone.
#pragma once

#include <string>

#include "ui/model.h"

namespace gorget {

enum MessageKind : int {
    MK_INFO = 0,
    MK_ERROR = 1,
    MK_ERROR_RETRY = 2,
    MK_QUESTION = 3,
    MK_QUESTION_NO_DEFAULT = 4,
    MK_WARNING = 5,
};

struct MessageKindStyle {
    int caption_id;
    unsigned type;
};

// The style of a kind; an unknown kind is shown as information.
MessageKindStyle message_kind_style(int kind);

int show_message(Host& host, const std::string& text, int kind);

}  // namespace gorget
