// Tasset: administers a PKCS#11 token from the command line.
#include "admin/tasset.h"
#include "crypto/bio/touch_memory.h"
#include "platform/com/registry.h"

int main(int argc, char** argv) {
    // Machine settings the library's drivers read come from this system's
    // registry file.
    cadb::TM_set_registry_reader(cadb::com::registry_read_machine_text);
    return cadb::Tasset_main(argc, argv);
}
