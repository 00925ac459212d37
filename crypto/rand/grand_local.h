// Internal to the software generator.
#pragma once

namespace cadb {

// Pauses the keyboard routine between prompts, through the installed time
// source when it has a sleep of its own.
void grand_sleep_ms(unsigned ms);

}  // namespace cadb
