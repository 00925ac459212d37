// A medium held in memory, registered as a token driver, so the routing of
// the file layer can be watched without a vendor library: files by path,
// directories by path, the media words each open saw, a present flag.
#pragma once

#include <openssl/bio.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "crypto/bio/media_driver.h"

namespace cadb::testing {

struct MemoryMedium {
    std::mutex mutex;
    std::map<std::string, std::string> files;
    std::set<std::string> dirs;
    std::vector<BIO_MEDIA_WORDS> opens;  // words seen by each open
    std::vector<std::string> deleted;
    bool present = true;
    bool loaded = true;
    bool fail_commit = false;

    static MemoryMedium& get() {
        static MemoryMedium m;
        return m;
    }
    void reset() {
        std::lock_guard g(mutex);
        files.clear();
        dirs.clear();
        opens.clear();
        deleted.clear();
        present = loaded = true;
        fail_commit = false;
    }
};

struct MemoryStream {
    std::string path;
    std::string data;
    std::size_t pos = 0;
    int flags = 0;
    bool dirty = false;
    bool gone = false;
};

inline MemoryStream* mem_state(BIO* b) { return static_cast<MemoryStream*>(BIO_get_data(b)); }

inline bool mem_commit(MemoryStream& s) {
    if (!(s.flags & BIO_FP_WRITE) || s.gone || !s.dirty) return true;
    auto& m = MemoryMedium::get();
    std::lock_guard g(m.mutex);
    if (m.fail_commit) return false;
    m.files[s.path] = s.data;
    s.dirty = false;
    return true;
}

inline long mem_ctrl(BIO* b, int cmd, long num, void* ptr) {
    MemoryStream* s = mem_state(b);
    auto& m = MemoryMedium::get();
    switch (cmd) {
        case BIO_C_SET_FILENAME: {
            s->path = static_cast<const char*>(ptr);
            s->flags = static_cast<int>(num);
            std::lock_guard g(m.mutex);
            if (const BIO_MEDIA_WORDS* w = BIO_get_media_words(b)) m.opens.push_back(*w);
            if (!m.loaded || !m.present) return 0;
            if (num & BIO_FP_READ) {
                const auto it = m.files.find(s->path);
                if (it == m.files.end()) return 0;
                s->data = it->second;
            }
            BIO_set_init(b, 1);
            return 1;
        }
        case BIO_CTRL_FLUSH:
            return mem_commit(*s) ? 1 : 0;
        default:
            return 0;
    }
}

inline int mem_write(BIO* b, const char* data, int len) {
    MemoryStream* s = mem_state(b);
    if (!(s->flags & BIO_FP_WRITE)) return -1;
    s->data.append(data, static_cast<std::size_t>(len));
    s->dirty = true;
    return len;
}

inline int mem_read(BIO* b, char* out, int len) {
    MemoryStream* s = mem_state(b);
    if (!(s->flags & BIO_FP_READ)) return -1;
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(len), s->data.size() - s->pos);
    std::copy_n(s->data.data() + s->pos, n, out);
    s->pos += n;
    return static_cast<int>(n);
}

inline int mem_create(BIO* b) {
    BIO_set_data(b, new MemoryStream);
    return 1;
}

inline int mem_destroy(BIO* b) {
    std::unique_ptr<MemoryStream> s(mem_state(b));
    if (s) mem_commit(*s);
    BIO_set_data(b, nullptr);
    return 1;
}

inline const BIO_METHOD* mem_method() {
    static BIO_METHOD* m = [] {
        BIO_METHOD* meth = BIO_meth_new(BIO_TYPE_FILE, "memory medium");
        BIO_meth_set_write(meth, mem_write);
        BIO_meth_set_read(meth, mem_read);
        BIO_meth_set_ctrl(meth, mem_ctrl);
        BIO_meth_set_create(meth, mem_create);
        BIO_meth_set_destroy(meth, mem_destroy);
        return meth;
    }();
    return m;
}

inline const BIO_MEDIA_DRIVER kMemoryDriver = {
    "memory medium",
    mem_method,
    [](const char*) { return MemoryMedium::get().loaded ? 1 : 0; },
    [](const char*) { return MemoryMedium::get().present ? 1 : 0; },
    [](const char* path) {
        auto& m = MemoryMedium::get();
        std::lock_guard g(m.mutex);
        return m.files.count(path) + m.dirs.count(path) != 0 ? 1 : 0;
    },
    [](const char* path) {
        auto& m = MemoryMedium::get();
        std::lock_guard g(m.mutex);
        return m.dirs.count(path) != 0 ? 1 : 0;
    },
    [](BIO* b) { return static_cast<long>(mem_state(b)->data.size()); },
    [](const char* path) {
        auto& m = MemoryMedium::get();
        std::lock_guard g(m.mutex);
        m.deleted.push_back(path);
        m.files.erase(path);
        return 1;
    },
    [](BIO* b) {
        MemoryStream* s = mem_state(b);
        auto& m = MemoryMedium::get();
        std::lock_guard g(m.mutex);
        m.deleted.push_back(s->path + "=" + s->data);
        m.files.erase(s->path);
        s->gone = true;
        return 1;
    },
    // Lists the direct children of a directory; touch-memory style names
    // ("KEY .001") are split into name and extension.
    [](const char* dir, BIO_MEDIA_ENTRY_CB cb, void* arg) {
        auto& m = MemoryMedium::get();
        std::vector<std::pair<std::string, bool>> children;
        {
            std::lock_guard g(m.mutex);
            if (m.dirs.count(dir) == 0) return 0;
            const std::string prefix = std::string(dir) + "\\";
            auto child = [&](const std::string& p, bool is_dir) {
                if (p.compare(0, prefix.size(), prefix) == 0 &&
                    p.find('\\', prefix.size()) == std::string::npos)
                    children.emplace_back(p.substr(prefix.size()), is_dir);
            };
            for (const auto& [p, data] : m.files) child(p, false);
            for (const auto& p : m.dirs) child(p, true);
        }
        for (const auto& [name, is_dir] : children) {
            const auto dot = name.find('.');
            const std::string base = name.substr(0, dot);
            const int ext = is_dir                     ? 127
                            : dot == std::string::npos ? 0
                                                       : std::stoi(name.substr(dot + 1));
            const BIO_MEDIA_ENTRY e{base.c_str(), ext, is_dir ? 1 : 0, 0};
            const BIO_MEDIA_ENTRY raw{name.c_str(), -1, is_dir ? 1 : 0, 0};
            if (cb(dot == std::string::npos || is_dir ? &raw : &e, arg) == 0) return 0;
        }
        return 1;
    },
    nullptr,
    nullptr,
};

// Registers the memory medium under a medium for the lifetime of the guard.
class MemoryDriverGuard {
  public:
    explicit MemoryDriverGuard(int medium) : medium_(medium) {
        MemoryMedium::get().reset();
        previous_ = BIO_media_register_driver(medium, &kMemoryDriver);
    }
    ~MemoryDriverGuard() { BIO_media_register_driver(medium_, previous_); }

  private:
    int medium_;
    const BIO_MEDIA_DRIVER* previous_;
};

}  // namespace cadb::testing
