#include "ui/message_kinds.h"

#include "ui/strings.h"

namespace gorget {

MessageKindStyle message_kind_style(int kind) {
    switch (kind) {
        case MK_ERROR:
            return {IDS_ERROR, MB_ICONSTOP | MB_OK};
        case MK_ERROR_RETRY:
            return {IDS_ERROR, MB_ICONSTOP | MB_RETRYCANCEL};
        case MK_QUESTION:
            return {IDS_QUESTION, MB_ICONQUESTION | MB_YESNO};
        case MK_QUESTION_NO_DEFAULT:
            return {IDS_QUESTION, MB_ICONQUESTION | MB_YESNO | MB_DEFBUTTON2};
        case MK_WARNING:
            return {IDS_WARNING, MB_ICONEXCLAMATION | MB_OK};
        default:
            return {IDS_MESSAGE, MB_ICONINFORMATION | MB_OK};
    }
}

int show_message(Host& host, const std::string& text, int kind) {
    const MessageKindStyle style = message_kind_style(kind);
    return host.message_box(text, ui_string(style.caption_id), style.type);
}

}  // namespace gorget
