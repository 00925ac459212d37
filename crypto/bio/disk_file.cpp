#include "crypto/bio/disk_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "crypto/bio/replace_temp.h"
#include "platform/paths.h"

namespace cadb {
namespace {

struct DiskFile {
    std::FILE* fp = nullptr;
    std::string target;   // the Linux path opened
    std::string temp;     // the replacement being written, until committed
    bool failed = false;  // a write failed: the replacement is abandoned
};

DiskFile* state(BIO* b) { return static_cast<DiskFile*>(BIO_get_data(b)); }

void sync_directory_of(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

void abandon(DiskFile& f) {
    if (!f.temp.empty()) ::unlink(f.temp.c_str());
    if (f.fp != nullptr) std::fclose(f.fp);
    f.fp = nullptr;
    f.temp.clear();
}

// Puts the replacement in place: everything written reaches the disk before
// the rename, so the target is either the old file or the whole new one. The
// file is closed only after the rename, which keeps its lock on it while it
// still bears the temporary's name (see replace_temp.h).
bool commit(DiskFile& f) {
    if (f.temp.empty()) return true;
    if (f.failed || std::fflush(f.fp) != 0 || ::fsync(fileno(f.fp)) != 0) {
        abandon(f);
        return false;
    }
    const bool renamed = std::rename(f.temp.c_str(), f.target.c_str()) == 0;
    if (!renamed) ::unlink(f.temp.c_str());
    const int closed = std::fclose(f.fp);
    f.fp = nullptr;
    f.temp.clear();
    if (!renamed) return false;
    sync_directory_of(f.target);
    return closed == 0;
}

void close_file(DiskFile& f) {
    if (!f.temp.empty()) {
        commit(f);
    } else if (f.fp != nullptr) {
        std::fclose(f.fp);
    }
    f.fp = nullptr;
}

// Opens without blocking, so that a named pipe or a device in a key path
// cannot hang the caller, and keeps only a regular file; the descriptor is
// made blocking again for the reads and writes that follow.
bool open_regular(DiskFile& f, int access, const char* mode) {
    const int fd = ::open(f.target.c_str(), access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const int fl = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fl < 0 ||
        ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0 || (f.fp = ::fdopen(fd, mode)) == nullptr) {
        ::close(fd);
        return false;
    }
    return true;
}

bool open_read(DiskFile& f) { return open_regular(f, O_RDONLY, "rb"); }

bool open_update(DiskFile& f) { return open_regular(f, O_RDWR | O_NOFOLLOW, "r+b"); }

bool open_replace(DiskFile& f) {
    struct stat st {};
    if (::stat(f.target.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0))
        return false;
    std::string temp;
    const int fd = replace_temp_create(f.target, temp);
    if (fd < 0) return false;
    if ((f.fp = ::fdopen(fd, "wb")) == nullptr) {
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    f.temp = std::move(temp);
    return true;
}

long open_by_name(BIO* b, long flags, const char* system_path) {
    DiskFile* f = state(b);
    close_file(*f);
    BIO_set_init(b, 0);
    const bool read = (flags & BIO_FP_READ) != 0;
    const bool write = (flags & BIO_FP_WRITE) != 0;
    if (system_path == nullptr || (!read && !write)) return 0;
    const auto os = path_to_os(system_path, write ? PathIntent::create : PathIntent::look);
    if (!os) return 0;
    *f = DiskFile{};
    f->target = os->path;
    const bool opened = read && write ? open_update(*f) : read ? open_read(*f) : open_replace(*f);
    if (!opened) return 0;
    BIO_set_shutdown(b, static_cast<int>(flags & BIO_CLOSE));
    BIO_set_init(b, 1);
    return 1;
}

int disk_write(BIO* b, const char* data, int len) {
    DiskFile* f = state(b);
    if (f == nullptr || f->fp == nullptr || data == nullptr || len < 0) return -1;
    const std::size_t n = std::fwrite(data, 1, static_cast<std::size_t>(len), f->fp);
    if (n != static_cast<std::size_t>(len)) {
        f->failed = true;
        return -1;
    }
    return len;
}

int disk_read(BIO* b, char* out, int len) {
    DiskFile* f = state(b);
    if (f == nullptr || f->fp == nullptr || out == nullptr || len < 0) return -1;
    const std::size_t n = std::fread(out, 1, static_cast<std::size_t>(len), f->fp);
    if (n == 0 && std::ferror(f->fp)) return -1;
    return static_cast<int>(n);
}

int disk_puts(BIO* b, const char* text) {
    return text == nullptr ? -1 : disk_write(b, text, static_cast<int>(std::strlen(text)));
}

int disk_gets(BIO* b, char* out, int size) {
    DiskFile* f = state(b);
    if (f == nullptr || f->fp == nullptr || out == nullptr || size <= 0) return -1;
    out[0] = '\0';
    if (std::fgets(out, size, f->fp) == nullptr) return std::ferror(f->fp) ? -1 : 0;
    return static_cast<int>(std::strlen(out));
}

long disk_ctrl(BIO* b, int cmd, long num, void* ptr) {
    DiskFile* f = state(b);
    if (f == nullptr) return 0;
    switch (cmd) {
        case BIO_C_SET_FILENAME:
            return open_by_name(b, num, static_cast<const char*>(ptr));
        case BIO_CTRL_FLUSH:
            if (f->fp == nullptr) return 0;
            if (!f->temp.empty()) {
                const bool ok = commit(*f);
                BIO_set_init(b, 0);
                return ok ? 1 : 0;
            }
            return std::fflush(f->fp) == 0 && ::fsync(fileno(f->fp)) == 0 ? 1 : 0;
        case BIO_CTRL_RESET:
            num = 0;
            [[fallthrough]];
        case BIO_C_FILE_SEEK:
            return f->fp != nullptr && std::fseek(f->fp, num, SEEK_SET) == 0 ? 0 : -1;
        case BIO_C_FILE_TELL:
        case BIO_CTRL_INFO:
            return f->fp != nullptr ? std::ftell(f->fp) : -1;
        case BIO_CTRL_EOF:
            return f->fp == nullptr || std::feof(f->fp) ? 1 : 0;
        case BIO_CTRL_GET_CLOSE:
            return BIO_get_shutdown(b);
        case BIO_CTRL_SET_CLOSE:
            BIO_set_shutdown(b, static_cast<int>(num));
            return 1;
        case BIO_CTRL_DUP:
            return 1;
        default:
            return 0;
    }
}

int disk_create(BIO* b) {
    auto* f = new (std::nothrow) DiskFile;
    if (f == nullptr) return 0;
    BIO_set_data(b, f);
    BIO_set_init(b, 0);
    return 1;
}

int disk_destroy(BIO* b) {
    std::unique_ptr<DiskFile> f(state(b));
    if (f) close_file(*f);
    BIO_set_data(b, nullptr);
    BIO_set_init(b, 0);
    return 1;
}

struct MethodFree {
    void operator()(BIO_METHOD* m) const { BIO_meth_free(m); }
};

std::unique_ptr<BIO_METHOD, MethodFree> make_method() {
    std::unique_ptr<BIO_METHOD, MethodFree> m(BIO_meth_new(BIO_TYPE_FILE, "FILE pointer"));
    if (!m || !BIO_meth_set_write(m.get(), disk_write) || !BIO_meth_set_read(m.get(), disk_read) ||
        !BIO_meth_set_puts(m.get(), disk_puts) || !BIO_meth_set_gets(m.get(), disk_gets) ||
        !BIO_meth_set_ctrl(m.get(), disk_ctrl) || !BIO_meth_set_create(m.get(), disk_create) ||
        !BIO_meth_set_destroy(m.get(), disk_destroy))
        return nullptr;
    return m;
}

}  // namespace

const BIO_METHOD* BIO_s_disk_file() {
    static const std::unique_ptr<BIO_METHOD, MethodFree> method = make_method();
    return method.get();
}

}  // namespace cadb
