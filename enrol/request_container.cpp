#include "enrol/request_container.h"

#include "crypto/cadb/buffer.h"
#include "crypto/store/media_io.h"

namespace cadb::enrol {

namespace {

const char* prompt_or_road(const char* prompt) {
    return prompt != nullptr ? prompt : KeyPasswordPrompt().c_str();
}

}  // namespace

void SetPasswordPrompt(const std::string& text) { KeyPasswordPrompt() = text.substr(0, 255); }

int TRequestUI::getPassCBK(char* buf, int size, int rwflag, const char* prompt) {
    return outer_ ? outer_->getPassCBK(buf, size, rwflag, prompt_or_road(prompt)) : 0;
}

int TRequestUI::putPassCBK(char* buf, int size, int rwflag, const char* prompt) {
    return outer_ ? outer_->putPassCBK(buf, size, rwflag, prompt_or_road(prompt)) : 0;
}

bool TRequestContainer::retryRandState() {
    (void)RndInitThroughUI();  // a generator still stopped shows in the state drawn below
    const std::string& name = fileNames()[STORE_RAND];
    if (name.empty()) return false;
    BufferPtr state(BUFFER_rand(36));
    if (!state || state->length != 36) return false;
    return CADB_write_file_plain(name.c_str(), state->data, state->length) > 0;
}

}  // namespace cadb::enrol
