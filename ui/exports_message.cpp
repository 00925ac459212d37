// The message box the other libraries show through this one, as they would
// call the platform's: text and caption in code page 1251, buttons, icon and
// default button in the type. It opens on the user-interface thread like
// every other window of the library; where nothing can be shown it gives the
// refusing button at once and says so in the trace.
#include "ui/exports.h"
#include "ui/renderer.h"
#include "ui/text.h"

using namespace gorget;

GORGET_EXPORT std::int32_t MessageBoxA(void*, const char* text, const char* caption,
                                       std::uint32_t type) {
    return renderer().message_box(from_cp1251(text ? text : ""), from_cp1251(caption ? caption : ""),
                                  type);
}
