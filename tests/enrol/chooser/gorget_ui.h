// The chooser's user interface for tests: the dialog library linked into the
// test, so that its scripted driver plays the chooser and the PIN dialogs a
// token asks for while the chooser lists it.
#pragma once

#include "ui/exports.h"
#include "wrappers/ui_binding.h"

namespace cadb::enrol::test {

// Runs the chooser through the library's export, as the enrolment library
// does with the library it loads.
inline int RunLinked(gorget::Dialog& dialog) {
    return ::GorgetRunDialog(&dialog, gorget::kDialogModelAbi);
}

class LinkedGorgetUI : public TLibraryUI {
  public:
    int getPass_pkcs11CBK(char* buf, int size, int rwflag, void* arg) override {
        return ::getPass_pkcs11CBK(buf, size, rwflag, arg);
    }
};

}  // namespace cadb::enrol::test
