// Stand-in for the smart-card service library: the token drivers only check
// that it loads.
extern "C" __attribute__((visibility("default"))) int SCardServicePresent() { return 1; }
