// The smart-card service library the token drivers check for: loading it is
// all they ask.
extern "C" __attribute__((visibility("default"))) int SCardServicePresent() { return 1; }
