// The chooser's user interface for tests: the dialog library linked into the
// test, so that its scripted driver plays the dialog the chooser shows.
#pragma once

#include "ui/exports.h"
#include "wrappers/ui_binding.h"

namespace cadb::enrol::test {

class LinkedGorgetUI : public TLibraryUI {
  public:
    int dirOperationCBK(const char* caption, UIDirRecord* record) override {
        static_assert(sizeof(UIDirRecord) == sizeof(gorget::MediumRecord));
        return ::dirOperationCBK(caption, reinterpret_cast<gorget::MediumRecord*>(record));
    }
};

}  // namespace cadb::enrol::test
