// Scripts both suites play: on the models through the driver, and on real
// windows under Xvfb, where they must give the same results.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "ui/driver.h"
#include "ui/model.h"

namespace gorget::test::scripts {

inline Script type_and_press(int field, std::string text, int button = IDOK) {
    return [=](DialogHandle& h) {
        EXPECT_TRUE(h.type(field, text));
        h.screenshot("typed-" + std::to_string(h.template_id()));
        EXPECT_TRUE(h.press(button));
    };
}

// Leaves "abcdef" in both fields and presses OK.
inline Script new_password_rules() {
    return [](DialogHandle& h) {
        EXPECT_EQ(h.template_id(), 1004);
        EXPECT_EQ(h.caption(), "Задать пароль");
        EXPECT_FALSE(h.enabled(IDOK));
        h.type(1413, "abcde");
        h.type(1414, "abcde");
        EXPECT_FALSE(h.enabled(IDOK)) << "five characters";
        h.type(1413, "f");
        EXPECT_FALSE(h.enabled(IDOK)) << "confirmation no longer matches";
        h.type(1414, "f");
        EXPECT_TRUE(h.enabled(IDOK));
        h.type(1413, "g");
        EXPECT_FALSE(h.enabled(IDOK)) << "an edit of the first field after a match";
        h.replace(1413, "abcdef");
        EXPECT_TRUE(h.enabled(IDOK));
        h.press(IDOK);
    };
}

inline Script share_five_of_three_then_cancel() {
    return [](DialogHandle& h) {
        EXPECT_EQ(h.template_id(), 576);
        EXPECT_EQ(h.value(1659), 2);
        EXPECT_EQ(h.value(1657), 2);
        EXPECT_TRUE(h.enabled(IDOK));
        h.set_value(1659, 5);
        h.set_value(1657, 3);
        EXPECT_FALSE(h.enabled(IDOK));
        EXPECT_FALSE(h.press(IDOK));
        h.press(IDCANCEL);
    };
}

}  // namespace gorget::test::scripts
