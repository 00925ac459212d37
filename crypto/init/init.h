// Start and stop of the library as a whole. The first CADB_init starts it:
// the random layer is left without a method, the error strings are loaded,
// the GOST digests, ciphers and key types are published through the engine,
// the key store's generator takes its first seed from a random board when one
// is installed, and the start-up self tests run. Later calls only count
// users; the CADB_cleanup that brings the count back to 0 stops it, and a
// following CADB_init starts it again from the beginning.
//
// Calls on several threads are safe: a CADB_init that finds the library
// starting waits until it runs.
#pragma once

namespace cadb {

// 1 when the library runs (started now or already running). 0 when start-up
// failed (the engine could not be published or a start-up self test failed):
// the library is then stopped again, no user is counted and the reason is on
// the error queue. A missing random board is no failure: the key store's
// generator then waits for seed from its store or from the user.
int CADB_init();

// Counts one user less; the last one stops the library: this thread's error
// state, the error strings and the key store's generator are released. With
// no user counted it does nothing.
void CADB_cleanup();

// Number of users counted by CADB_init.
int CADB_use_count();

// Reverses len bytes in place (GOST values are little-endian on the wire)
// and returns buf; null or len <= 0 leaves buf as it is.
unsigned char* bytes_reverse(unsigned char* buf, int len);

}  // namespace cadb
