// Tasset: administers a PKCS#11 token from the command line.
#include "admin/tasset.h"

int main(int argc, char** argv) { return cadb::Tasset_main(argc, argv); }
