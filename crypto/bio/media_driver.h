// The registration point of the media drivers. Each medium other than the
// disk has a driver that does the token work: a stream method the factory
// (media_file.h) opens files with, and the helpers the file layer
// (crypto/store/media_io.h) calls. A driver fills one BIO_MEDIA_DRIVER record
// of static lifetime and registers it under its medium, typically at library
// start-up once its vendor library has loaded:
//
//     static const BIO_MEDIA_DRIVER kRuToken = {"ruToken", ruToken_method, ...};
//     BIO_media_register_driver(BIO_MEDIUM_RUTOKEN, &kRuToken);
//
// PKCS#11 paths have no driver here: they name token objects, which the
// file layer reaches through the PKCS#11 file view (crypto/pkcs11).
//
// Until a medium has a driver, every path of that medium fails cleanly: the
// factory returns null and the file layer reports its usual failure. Any
// slot may be null: the operation it serves then fails (a yes/no question
// answers 0). Registration is safe while other threads use the layer: each
// lookup reads the record pointer once.
#pragma once

#include <openssl/bio.h>
#include <openssl/pem.h>

#include <cstddef>
#include <cstdint>

namespace cadb {

// One entry of a directory listing. The file layer builds the reported
// name: a touch-memory file is name (cut at its first blank) plus ".%03i"
// unless extension is 0, a touch-memory directory (extension 127) its bare
// name; a token entry is name as it stands.
struct BIO_MEDIA_ENTRY {
    const char* name;
    int extension;
    int is_directory;
    long size;
};

// Returns 0 to stop the listing.
using BIO_MEDIA_ENTRY_CB = int (*)(const BIO_MEDIA_ENTRY* entry, void* arg);

struct BIO_MEDIA_DRIVER {
    const char* name;
    // The stream method; its ctrl 108 (BIO_C_SET_FILENAME) opens the path with
    // the factory's mode flags (2 read, 4 write) and may read the media words
    // (BIO_get_media_words) during that call only. Flush (ctrl 11) commits a
    // written file and reports whether it could: freeing a stream reports
    // nothing, so a whole-file write learns of a failed commit only here.
    const BIO_METHOD* (*method)();
    // 1 when the driver can serve this path now (vendor library loaded).
    int (*ready)(const char* path);
    // 1 when the path's token is present.
    int (*token_present)(const char* path);
    // 1 when the file or directory exists on the medium, 0 when the medium
    // answers that it does not, -1 when the driver cannot tell (no device
    // answers, or a vendor call fails otherwise than on a missing entry).
    // Whoever only asks yes or no takes anything but 1 as no.
    int (*exists)(const char* path);
    // 1 when the path is a directory on the medium.
    int (*is_directory)(const char* path);
    // The size of the file open for reading on a stream of this driver, or
    // -1.
    long (*open_size)(BIO* bio);
    // Deletes the file by path (touch memory).
    int (*delete_path)(const char* path);
    // Deletes the file open on the stream (USB tokens); the stream then
    // writes nothing back when it is freed.
    int (*delete_open)(BIO* bio);
    // Lists the entries of the directory at path into cb; 1/0.
    int (*list_dir)(const char* path, BIO_MEDIA_ENTRY_CB cb, void* arg);
    // Puts into out (size bytes, terminating zero included) what tells the
    // device that serves path from the other devices of the medium: its
    // serial number, or the reader or port it answers in where it has none.
    // Every process names one device alike, however the path reaches it: a
    // device whose identity cannot be read is not named, and a medium whose
    // devices cannot be told apart names them all alike. 1, or 0 when no
    // device serves the path or it cannot be named; nothing is left on the
    // error queue.
    int (*identity)(const char* path, char* out, std::size_t size);
    // The callback through which the driver asks a device's PIN where the
    // stream was given none (the process-wide one its medium's setter put
    // in place), or null. The device's lock asks it before it is taken and
    // the driver takes that answer inside the hold (media_pin.h).
    pem_password_cb* (*passwd_cb)();
};

// Registers driver for medium (any but disk and PKCS#11);
// null takes a registration back. Returns the record registered before, or
// null.
const BIO_MEDIA_DRIVER* BIO_media_register_driver(int medium, const BIO_MEDIA_DRIVER* driver);

// The driver registered for a medium, or null.
const BIO_MEDIA_DRIVER* BIO_media_driver(int medium);

// The driver of a path's medium, or null (always null for disk and PKCS#11
// paths).
const BIO_MEDIA_DRIVER* BIO_media_driver_of(const char* path);

// The media words handed with every file operation to the driver that opens
// the file: a flags word and the data pointer of a credential the embedding
// supplies (or null).
struct BIO_MEDIA_WORDS {
    std::uint32_t flags;
    const void* credential;
};
// Set in the flags word when the key store writes its master-key file.
inline constexpr std::uint32_t BIO_MEDIA_FLAG_MASTER_KEY = 2;

// The words of the open in progress; null outside a driver's open.
const BIO_MEDIA_WORDS* BIO_get_media_words(BIO* bio);

}  // namespace cadb
