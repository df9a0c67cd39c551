#include "diag/process_symbols.h"

#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <span>
#include <unordered_map>
#include <vector>

#include "diag/elf_symbols.h"

namespace pc::diag {
namespace {

struct Loaded {
    uintptr_t addr;
    uintptr_t size;
    std::string name;
    unsigned object;  // index into Table::objects
};

struct Table {
    bool loaded = false;
    std::vector<std::string> objects;                    // file names, load order
    std::vector<Loaded> by_addr;                         // sorted by address
    std::unordered_map<std::string, uintptr_t> by_name;  // first definition in load order
};

std::mutex g_mutex;
Table g_table;  // guarded by g_mutex

// A read-only mapping of a whole file, unmapped with the object.
class MappedFile {
public:
    explicit MappedFile(const std::string &path) {
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        struct stat st {};
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
            void *p = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            if (p != MAP_FAILED) {
                data_ = p;
                size_ = static_cast<size_t>(st.st_size);
            }
        }
        close(fd);
    }
    ~MappedFile() {
        if (data_ != nullptr) munmap(data_, size_);
    }
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    std::span<const uint8_t> bytes() const { return {static_cast<const uint8_t *>(data_), size_}; }

private:
    void *data_ = nullptr;
    size_t size_ = 0;
};

struct Object {
    std::string path;  // the file to read
    std::string name;  // the file to name
    uintptr_t bias;
};

std::string program_file() {
    char path[512];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : "/proc/self/exe";
}

int collect_object(dl_phdr_info *info, size_t, void *ctx) {
    auto *objects = static_cast<std::vector<Object> *>(ctx);
    // The program itself has no name here; its file is /proc/self/exe.
    const bool program = objects->empty() && (info->dlpi_name == nullptr || info->dlpi_name[0] == '\0');
    if (!program && (info->dlpi_name == nullptr || info->dlpi_name[0] != '/')) return 0;  // the vDSO
    if (program)
        objects->push_back(Object{"/proc/self/exe", program_file(), info->dlpi_addr});
    else
        objects->push_back(Object{info->dlpi_name, info->dlpi_name, info->dlpi_addr});
    return 0;
}

int load_locked(Table &t) {
    t = Table{};
    t.loaded = true;
    std::vector<Object> objects;
    dl_iterate_phdr(collect_object, &objects);
    int read = 0;
    for (const Object &o : objects) {
        MappedFile file(o.path);
        std::vector<ElfSymbol> symbols;
        if (!read_elf_symbols(file.bytes(), &symbols)) continue;
        const auto index = static_cast<unsigned>(t.objects.size());
        t.objects.push_back(o.name);
        ++read;
        for (ElfSymbol &s : symbols) {
            const uintptr_t addr = static_cast<uintptr_t>(s.value) + o.bias;
            // A copied object of a library keeps its version in the
            // program's table ("name@VERSION"); it is looked up by name.
            if (size_t at = s.name.find('@'); at != std::string::npos && at > 0) s.name.resize(at);
            t.by_name.emplace(s.name, addr);
            t.by_addr.push_back(Loaded{addr, static_cast<uintptr_t>(s.size), std::move(s.name), index});
        }
    }
    std::stable_sort(t.by_addr.begin(), t.by_addr.end(),
                     [](const Loaded &a, const Loaded &b) { return a.addr < b.addr; });
    return read;
}

// Runs `fn` on the table, loading it first when it never was; the
// allocations of a load may fail, which leaves nothing found.
template <typename Fn>
auto with_table(Fn &&fn) -> decltype(fn(g_table)) {
    std::lock_guard guard(g_mutex);
    try {
        if (!g_table.loaded) load_locked(g_table);
        return fn(g_table);
    } catch (const std::bad_alloc &) {
        g_table = Table{};
        return {};
    }
}

}  // namespace

int reload_process_symbols() {
    std::lock_guard guard(g_mutex);
    try {
        return load_locked(g_table);
    } catch (const std::bad_alloc &) {
        g_table = Table{};
        return -1;
    }
}

std::optional<uintptr_t> process_symbol_address(const std::string &name) {
    return with_table([&](const Table &t) -> std::optional<uintptr_t> {
        auto it = t.by_name.find(name);
        if (it == t.by_name.end()) return std::nullopt;
        return it->second;
    });
}

std::optional<SymbolAt> process_symbol_at(uintptr_t addr) {
    return with_table([&](const Table &t) -> std::optional<SymbolAt> {
        auto it = std::upper_bound(t.by_addr.begin(), t.by_addr.end(), addr,
                                   [](uintptr_t a, const Loaded &s) { return a < s.addr; });
        // Among the symbols that start at or below addr, the nearest one
        // whose extent holds it (sizes overlap where aliases share code).
        while (it != t.by_addr.begin()) {
            --it;
            if (addr == it->addr || addr - it->addr < it->size)
                return SymbolAt{it->name, it->addr, t.objects[it->object]};
            if (addr - it->addr > (uintptr_t{1} << 20)) break;  // too far below to hold it
        }
        return std::nullopt;
    });
}

}  // namespace pc::diag
