// The program's error-string tables, loaded at start-up after the library's.
#pragma once

namespace cadb {

// Library 82 (the iKey driver): its name and its functions' names.
void ERR_load_IKSDK_strings();
// Every table the program adds: library 81 with the utilities' functions,
// then library 82.
void Tasset_load_error_strings();

}  // namespace cadb
