// Corpus generator for the deflate benchmark: a minidump-like crash dump, an application log with
// Chinese lines and stack traces, random bytes, and an empty and a ten-byte file, written to one folder.
//
// Everything follows from fixed seeds and a fixed list of system files, so one machine always writes
// the same corpus. Machines with other library versions get other module bytes; the fingerprints
// printed at the end tell whether two corpora agree. The sizes never depend on the machine.
//
// usage: corpus_gen [--small] DIR     (--small writes only random.bin, empty.bin and ten.bin)

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kKiB = 1024;
constexpr uint32_t kMiB = 1024 * 1024;
constexpr uint32_t kPage = 4096;
constexpr uint32_t kMinidumpSize = 32 * kMiB;
constexpr uint32_t kLogSize = 8 * kMiB;
constexpr uint32_t kRandomSize = 1 * kMiB;

// ---------------------------------------------------------------------------------------------
// Randomness: splitmix64, because <random>'s distributions differ between standard libraries and
// the corpus must not.

class Rng {
public:
    explicit Rng(uint64_t seed) : m_state(seed) {}
    uint64_t Next() {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Next32() { return uint32_t(Next() >> 32); }
    // Uniform in [0, n); n must be above 0.
    uint32_t Below(uint32_t n) { return uint32_t((uint64_t(Next32()) * n) >> 32); }
    // Uniform in [lo, hi].
    uint32_t Range(uint32_t lo, uint32_t hi) { return lo + Below(hi - lo + 1); }
    bool Chance(uint32_t percent) { return Below(100) < percent; }
    template <typename T>
    const T& Pick(const std::vector<T>& items) {
        return items[Below(uint32_t(items.size()))];
    }
    template <typename T, size_t N>
    const T& Pick(const T (&items)[N]) {
        return items[Below(uint32_t(N))];
    }
    void Fill(uint8_t* p, size_t n) {
        while (n >= 8) {
            uint64_t v = Next();
            std::memcpy(p, &v, 8);
            p += 8;
            n -= 8;
        }
        if (n) {
            uint64_t v = Next();
            std::memcpy(p, &v, n);
        }
    }

private:
    uint64_t m_state;
};

uint32_t AlignUp(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

// Little-endian writes into a fixed slice of a buffer. Running past the slice is a bug of this
// generator, reported as an exception rather than a write outside the buffer.
class ByteWriter {
public:
    ByteWriter(uint8_t* base, size_t size) : m_base(base), m_size(size) {}
    size_t Pos() const { return m_pos; }
    size_t Room() const { return m_size - m_pos; }
    uint8_t* At(size_t pos) {
        Need(pos, 0);
        return m_base + pos;
    }
    void Seek(size_t pos) {
        Need(pos, 0);
        m_pos = pos;
    }
    void U8(uint8_t v) { Bytes(&v, 1); }
    void U16(uint16_t v) {
        uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
        Bytes(b, 2);
    }
    void U32(uint32_t v) {
        uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        Bytes(b, 4);
    }
    void U64(uint64_t v) {
        U32(uint32_t(v));
        U32(uint32_t(v >> 32));
    }
    void Bytes(const void* p, size_t n) {
        Need(m_pos, n);
        if (n) std::memcpy(m_base + m_pos, p, n);
        m_pos += n;
    }
    void Fill(uint8_t value, size_t n) {
        Need(m_pos, n);
        std::memset(m_base + m_pos, value, n);
        m_pos += n;
    }
    void PatchU32(size_t pos, uint32_t v) {
        size_t keep = m_pos;
        Seek(pos);
        U32(v);
        m_pos = keep;
    }

private:
    void Need(size_t pos, size_t n) const {
        if (pos > m_size || n > m_size - pos) throw std::logic_error("corpus_gen: write past the end of a region");
    }
    uint8_t* m_base;
    size_t m_size;
    size_t m_pos = 0;
};

// Our literals are valid UTF-8; this is only what the dump's wide strings need.
std::u16string Utf8ToUtf16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        uint32_t c = uint8_t(s[i]);
        size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (len > 1) c &= 0xFF >> (len + 1);
        for (size_t k = 1; k < len && i + k < s.size(); ++k) c = (c << 6) | (uint8_t(s[i + k]) & 0x3F);
        i += len;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(char16_t(0xD800 + (c >> 10)));
            out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(char16_t(c));
        }
    }
    return out;
}

void PutUtf16(ByteWriter& w, const std::u16string& s, size_t max_units) {
    size_t n = std::min(s.size(), max_units);
    for (size_t i = 0; i < n; ++i) w.U16(uint16_t(s[i]));
}

// ---------------------------------------------------------------------------------------------
// Words the application's memory and log are made of: a CRM client on Chinese desktops.

const char* const kChinesePhrases[] = {
    "客户资料已保存", "订单提交失败", "正在连接服务器", "数据库连接超时", "用户名或密码错误", "请检查网络设置",
    "同步完成", "报表生成中", "打印任务已发送", "文件不存在", "权限不足", "配置文件读取失败", "正在加载客户列表",
    "联系人", "销售机会", "合同编号", "跟进记录", "审批流程", "库存不足", "发票已开具", "付款方式", "重点客户",
    "新建客户", "客户名称", "联系电话", "电子邮件", "备注", "负责人", "所属部门", "销售部", "市场部", "财务部",
    "最近联系时间", "下次跟进", "成交金额", "已完成", "进行中", "已取消", "待审批", "操作成功", "保存失败",
    "确定要删除选中的记录吗？", "网络连接已断开，正在重新连接……", "本月销售额", "季度报表", "导出到表格",
};
const char* const kPersonNames[] = {"张伟", "王芳", "李娜", "刘洋", "陈静", "杨磊", "赵敏", "黄强",
                                    "周杰", "吴霞", "徐明", "孙丽", "马超", "朱琳", "胡军", "郭婷"};
const char* const kCompanies[] = {"北京恒信科技有限公司", "上海华泰贸易有限公司", "广州天河电子有限公司",
                                  "深圳南山软件有限公司", "杭州西湖文化传媒有限公司", "成都锦江物流有限公司",
                                  "武汉光谷机械制造有限公司", "南京金陵医药有限公司", "天津港湾进出口有限公司",
                                  "重庆山城餐饮管理有限公司"};
const char* const kCities[] = {"北京市朝阳区", "上海市浦东新区", "广州市天河区", "深圳市南山区", "杭州市西湖区",
                               "成都市锦江区", "武汉市洪山区", "南京市鼓楼区", "天津市和平区", "重庆市渝中区"};
const char* const kEnglishPhrases[] = {
    "CustomerListCtrl", "OrderEditDialog", "ReportPreviewWnd", "SyncWorker", "ConnectionPool",
    "Software\\Tovrek\\CRM\\Settings", "LastSyncTime", "WindowPlacement", "RecentCustomers",
    "application/json; charset=utf-8", "Content-Type", "Authorization: Bearer ", "Accept-Language: zh-CN",
    "SELECT id, name, phone, email, owner_id FROM customer WHERE region_id = ? AND status <> 3 ORDER BY name",
    "UPDATE orders SET status = ?, updated_at = ? WHERE id = ?",
    "INSERT INTO followup (customer_id, user_id, note, created_at) VALUES (?, ?, ?, ?)",
    "C:\\Program Files (x86)\\Tovrek\\TovrekCRM.exe", "C:\\Users\\zhangwei\\AppData\\Local\\Temp\\Vizoziv\\",
    "C:\\Users\\zhangwei\\AppData\\Roaming\\Tovrek\\cache\\customers.db", "DialogFont", "ListFont",
    "https://crm.tovrek.local:8443/api/v2/customers", "OnInitDialog", "OnSize", "OnPaint", "OnTimer",
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "<row id=\"", "\" status=\"", "</row>", "true", "false", "null",
};
const char* const kHosts[] = {"crm.tovrek.local:8443", "sync.tovrek.local", "10.20.1.15:8080", "report.tovrek.local"};
const char* const kLogModules[] = {"App",  "CustomerView", "OrderService", "Db",     "Net",    "Sync",  "Report",
                                   "Print", "Auth",         "Cache",        "UI",     "Config", "Update"};

// ---------------------------------------------------------------------------------------------
// Module images: real code bytes. The product's own modules are stood in for by Linux shared
// libraries, the system DLLs by Wine's (both installed on every machine scripts/bootstrap set up).

struct ModuleSource {
    const char* path;     // system file whose leading bytes become the image
    const char* dump_name;  // the name the dump gives the module
};

const ModuleSource kProductModules[] = {
    {"/usr/lib/x86_64-linux-gnu/libstdc++.so.6", "C:\\Program Files (x86)\\Tovrek\\TovrekCRM.exe"},
    {"/usr/lib/x86_64-linux-gnu/libsqlite3.so.0", "C:\\Program Files (x86)\\Tovrek\\TovrekData.dll"},
    {"/usr/lib/x86_64-linux-gnu/libxml2.so.2", "C:\\Program Files (x86)\\Tovrek\\TovrekXml.dll"},
    {"/usr/lib/x86_64-linux-gnu/libcurl.so.4", "C:\\Program Files (x86)\\Tovrek\\TovrekNet.dll"},
    {"/usr/lib/x86_64-linux-gnu/libfreetype.so.6", "C:\\Program Files (x86)\\Tovrek\\TovrekChart.dll"},
    {"/usr/lib/x86_64-linux-gnu/libjsoncpp.so.25", "C:\\Program Files (x86)\\Tovrek\\TovrekJson.dll"},
    {"/usr/lib/x86_64-linux-gnu/libpng16.so.16", "C:\\Program Files (x86)\\Tovrek\\TovrekImage.dll"},
    {"/usr/lib/x86_64-linux-gnu/libz.so.1", "C:\\Program Files (x86)\\Tovrek\\TovrekZip.dll"},
};
const char* const kSystemDlls[] = {"ntdll.dll",   "kernel32.dll", "kernelbase.dll", "user32.dll", "gdi32.dll",
                                   "msvcr120.dll", "msvcp120.dll", "comctl32.dll",  "ole32.dll",  "oleaut32.dll",
                                   "rpcrt4.dll",  "shlwapi.dll",  "shell32.dll",    "wininet.dll", "ws2_32.dll",
                                   "advapi32.dll", "version.dll",  "dbghelp.dll",   "imm32.dll",  "uxtheme.dll"};
const char* const kWineDllDirs[] = {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/wine/x86_64-windows"};

// When a listed file is missing, the next unused file of this pool takes its place (regular files of
// at least 64 KiB, symbolic links skipped, in byte order of their paths); when the pool is used up
// too, synthetic code stands in. Either way the dump keeps its exact size.
const std::pair<const char*, const char*> kFallbackPool[] = {
    {"/usr/lib/x86_64-linux-gnu", ".so"},
    {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", ".dll"},
    {"/usr/lib/wine/x86_64-windows", ".dll"},
    {"/usr/x86_64-w64-mingw32/lib", ".a"},
};

std::vector<uint8_t> ReadLeadingBytes(const fs::path& path, uint32_t cap) {
    std::vector<uint8_t> bytes;
    std::ifstream in(path, std::ios::binary);
    if (!in) return bytes;
    bytes.resize(cap);
    in.read(reinterpret_cast<char*>(bytes.data()), cap);
    bytes.resize(size_t(in.gcount()));
    return bytes;
}

class FallbackPool {
public:
    FallbackPool() {
        for (const auto& [dir, ext] : kFallbackPool) {
            std::error_code ec;
            std::vector<std::string> found;
            for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
                std::error_code ec2;
                const fs::path& p = it->path();
                std::string name = p.filename().string();
                if (name.find(ext) == std::string::npos) continue;
                if (fs::is_symlink(it->symlink_status(ec2)) || !fs::is_regular_file(it->status(ec2))) continue;
                if (fs::file_size(p, ec2) < 64 * kKiB || ec2) continue;
                found.push_back(p.string());
            }
            std::sort(found.begin(), found.end());
            m_paths.insert(m_paths.end(), found.begin(), found.end());
        }
    }
    // The next pool file that is readable and not yet used, or an empty path.
    std::string Take(std::vector<std::string>& used) {
        while (m_next < m_paths.size()) {
            const std::string& p = m_paths[m_next++];
            std::error_code ec;
            std::string canonical = fs::weakly_canonical(p, ec).string();
            if (!ec && std::find(used.begin(), used.end(), canonical) == used.end()) return p;
        }
        return {};
    }

private:
    std::vector<std::string> m_paths;
    size_t m_next = 0;
};

// Code-like bytes for a machine without any of the listed files: function prologues, calls, moves
// with immediates and epilogues, padded like a linker pads functions, then a table of names.
std::vector<uint8_t> SyntheticCode(Rng& rng, uint32_t size) {
    std::vector<uint8_t> out;
    out.reserve(size);
    auto imm32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
    };
    uint32_t code_end = size / 10 * 8;
    while (out.size() < code_end) {
        out.insert(out.end(), {0x55, 0x8B, 0xEC, 0x83, 0xEC, uint8_t(rng.Range(1, 16) * 4)});
        for (uint32_t n = rng.Range(3, 40); n; --n) {
            switch (rng.Below(6)) {
            case 0: out.push_back(0xE8); imm32(rng.Next32() & 0x000FFFFF); break;                   // call rel32
            case 1: out.insert(out.end(), {0x8B, 0x45, uint8_t(rng.Range(2, 12) * 4)}); break;     // mov eax, [ebp+x]
            case 2: out.insert(out.end(), {0x89, 0x45, uint8_t(0x100 - rng.Range(1, 16) * 4)}); break;
            case 3: out.push_back(0xB8); imm32(rng.Below(4) ? rng.Below(256) : rng.Next32()); break;  // mov eax, imm
            case 4: out.insert(out.end(), {0x85, 0xC0, 0x74, uint8_t(rng.Range(4, 60))}); break;   // test, je
            default: out.insert(out.end(), {0xFF, 0x15}); imm32(0x00401000 + rng.Below(512) * 4); break;
            }
        }
        out.insert(out.end(), {0x8B, 0xE5, 0x5D, 0xC3});
        while (out.size() % 16) out.push_back(0xCC);
    }
    while (out.size() < size) {
        std::string name = std::string(rng.Pick(kEnglishPhrases)).substr(0, 40);
        out.insert(out.end(), name.begin(), name.end());
        out.push_back(0);
    }
    out.resize(size);
    return out;
}

struct Module {
    std::string source;     // what the bytes came from, for the report
    std::string dump_name;  // name written into the module list
    std::vector<uint8_t> image;
    uint32_t base = 0;
    uint32_t size = 0;  // image rounded up to whole pages; the tail is zero like a section's end
    uint32_t time_stamp = 0;
    uint32_t checksum = 0;
    bool is_exe = false;
};

class ModuleLoader {
public:
    explicit ModuleLoader(Rng& rng) : m_rng(rng) {}

    // Loads listed modules until budget bytes are taken; each module takes the leading
    // cap bytes of its file (headers and code come first in both ELF and PE files).
    // Modules beyond the list are named extra_prefix + "moduleN.dll".
    void Load(const std::vector<ModuleSource>& list, const std::string& extra_prefix, uint32_t budget,
              std::vector<Module>& out) {
        uint32_t taken = 0;
        // A remainder too small for a module is left to the heaps.
        for (size_t i = 0; budget - taken >= 64 * kKiB; ++i) {
            uint32_t cap = std::min(AlignUp(m_rng.Range(256 * kKiB, 1280 * kKiB), kPage), budget - taken);
            Module m;
            if (i < list.size()) {
                m.dump_name = list[i].dump_name;
                m.image = Read(list[i].path, cap, m.source);
            } else {
                m.dump_name = extra_prefix + "module" + std::to_string(i) + ".dll";
            }
            if (m.image.empty()) {
                std::string alt = m_pool.Take(m_used);
                if (!alt.empty()) m.image = Read(alt.c_str(), cap, m.source);
            }
            if (m.image.empty()) {
                m.image = SyntheticCode(m_rng, cap);
                m.source = "(synthetic code)";
            }
            m.size = AlignUp(uint32_t(m.image.size()), kPage);
            m.time_stamp = 0x50000000 + m_rng.Below(0x10000000);
            m.checksum = m_rng.Next32() & 0x00FFFFFF;
            taken += m.size;
            out.push_back(std::move(m));
        }
    }

private:
    std::vector<uint8_t> Read(const char* path, uint32_t cap, std::string& source) {
        std::error_code ec;
        std::string canonical = fs::weakly_canonical(path, ec).string();
        if (ec || std::find(m_used.begin(), m_used.end(), canonical) != m_used.end()) return {};
        std::vector<uint8_t> bytes = ReadLeadingBytes(path, cap);
        if (bytes.size() < 16 * kKiB) return {};
        m_used.push_back(canonical);
        source = path;
        return bytes;
    }

    Rng& m_rng;
    FallbackPool m_pool;
    std::vector<std::string> m_used;
};

// ---------------------------------------------------------------------------------------------
// The dump's address space: a 32-bit process. The executable sits at 0x00400000, the product's
// own DLLs (not relocatable to a random base) among the heaps and stacks low in memory, the system
// DLLs high up; the memory list holds the regions in address order, as a full-memory dump does.

enum class RegionKind { Module, Heap, Stack, Zero, Random };

struct Region {
    RegionKind kind;
    uint32_t base;
    uint32_t size;
    uint32_t index;  // module or thread number
    uint32_t rva = 0;
};

struct Thread {
    uint32_t id;
    uint32_t region;  // index into the region list
    uint32_t teb;
    uint32_t esp = 0, ebp = 0, eip = 0;
};

// Addresses that content refers to: heap blocks, code, vtables, stacks.
struct AddressBook {
    std::vector<std::pair<uint32_t, uint32_t>> heaps;  // base, size
    std::vector<uint32_t> functions;                   // function starts; return addresses lie a bit after
    std::vector<uint32_t> vtables;
    uint32_t string_manager = 0;

    uint32_t HeapPointer(Rng& rng, uint32_t near) const {
        // Objects point mostly at neighbours allocated about the same time.
        for (const auto& [base, size] : heaps) {
            if (near >= base && near < base + size && rng.Chance(60)) {
                uint32_t lo = near > base + 64 * kKiB ? near - 64 * kKiB : base;
                uint32_t hi = std::min(near + 64 * kKiB, base + size - 16);
                return (lo + rng.Below(hi - lo)) & ~7u;
            }
        }
        const auto& h = rng.Pick(heaps);
        return (h.first + 64 + rng.Below(h.second - 80)) & ~7u;
    }
    uint32_t ReturnAddress(Rng& rng) const { return rng.Pick(functions) + rng.Range(5, 400); }
};

void PutContextWord(ByteWriter& w, Rng& rng, const AddressBook& book, uint32_t addr) {
    switch (rng.Below(20)) {
    case 0: case 1: case 2: case 3: case 4: case 5: w.U32(book.HeapPointer(rng, addr)); break;
    case 6: case 7: case 8: case 9: w.U32(0); break;
    case 10: case 11: case 12: w.U32(rng.Below(rng.Chance(70) ? 16 : 5000)); break;
    case 13: w.U32(1u << rng.Below(32)); break;
    case 14: w.U32(0x100 + rng.Below(0x400) * 4); break;  // a handle
    case 15: w.U32(book.ReturnAddress(rng)); break;
    case 16: w.U32(rng.Pick(book.vtables)); break;
    case 17: w.U32(0xFFFFFFFF); break;
    default: w.U32(rng.Next32()); break;
    }
}

// A heap segment: a segment header, then blocks, each behind an 8-byte header encoded with the
// heap's key (so equal sizes give equal header bytes, but the headers do not look like small numbers).
void FillHeap(uint8_t* region, uint32_t size, uint32_t base, Rng& rng, const AddressBook& book) {
    ByteWriter w(region, size);
    uint32_t key0 = rng.Next32(), key1 = rng.Next32();
    w.U32(base);
    w.U32(0);
    w.U32(0xFFEEFFEE);  // segment signature
    w.U32(2);           // segment flags
    w.U32(base);
    w.U32(base + size);
    w.U32(key0);
    w.U32(key1);
    w.Fill(0, 32);
    uint32_t prev_units = 8;
    struct Recent {
        size_t pos;
        uint32_t len;
    };
    std::vector<Recent> recent;
    while (w.Room() >= 16) {
        uint32_t bytes;
        uint32_t roll = rng.Below(100);
        if (roll < 70) bytes = rng.Range(16, 256);
        else if (roll < 95) bytes = rng.Range(256, 4096);
        else bytes = rng.Range(4096, 65536);
        bytes = AlignUp(bytes, 8);
        if (bytes + 16 > w.Room()) bytes = uint32_t(w.Room() & ~size_t(7));
        if (bytes < 16) break;
        uint32_t units = bytes / 8;
        uint32_t kind = rng.Below(100);
        if (bytes < 48 && kind >= 30 && kind < 72) kind = 0;  // too small for a string or an array
        bool busy = kind < 82;
        uint32_t flags = busy ? 1 : 0;
        w.U32((units | (flags << 16) | (uint32_t(units ^ (units >> 8) ^ flags) << 24)) ^ key0);
        w.U32((prev_units & 0xFFFF) | (uint32_t(busy ? rng.Below(24) : 0) << 24));
        prev_units = units;
        size_t payload_pos = w.Pos();
        uint32_t payload = bytes - 8;
        ByteWriter p(w.At(payload_pos), payload);
        uint32_t addr = base + uint32_t(payload_pos);
        if (kind < 30) {
            // A C++ object: vtable first, then members.
            p.U32(rng.Pick(book.vtables));
            while (p.Room() >= 4) PutContextWord(p, rng, book, addr);
        } else if (kind < 45) {
            // A wide string with its reference-counted header.
            p.U32(book.string_manager);
            std::string text;
            while (text.size() < payload) {
                uint32_t pick = rng.Below(10);
                if (pick < 4) text += rng.Pick(kChinesePhrases);
                else if (pick < 5) text += rng.Pick(kPersonNames);
                else if (pick < 6) text += rng.Pick(kCompanies);
                else if (pick < 7) text += rng.Pick(kCities);
                else text += rng.Pick(kEnglishPhrases);
                if (rng.Chance(40)) break;
                text += rng.Chance(50) ? "，" : " ";
            }
            std::u16string wide = Utf8ToUtf16(text);
            size_t units_fit = p.Room() >= 14 ? (p.Room() - 14) / 2 : 0;
            size_t len = std::min(wide.size(), units_fit);
            p.U32(uint32_t(len));
            p.U32(uint32_t(units_fit));
            p.U32(1);
            PutUtf16(p, wide, len);
            if (p.Room() >= 2) p.U16(0);
        } else if (kind < 55) {
            // Narrow text: SQL, paths, headers, XML.
            std::string text;
            while (text.size() + 1 < payload && !(text.size() > 8 && rng.Chance(35))) {
                text += rng.Chance(75) ? rng.Pick(kEnglishPhrases) : rng.Pick(kCompanies);
                text += rng.Chance(50) ? "\r\n" : " ";
            }
            p.Bytes(text.data(), std::min<size_t>(text.size(), p.Room()));
            if (p.Room()) p.U8(0);
        } else if (kind < 63) {
            // A vector of pointers to nodes allocated one after another.
            uint32_t stride = 8 * rng.Range(2, 16);
            uint32_t at = book.HeapPointer(rng, addr);
            while (p.Room() >= 4) {
                p.U32(at);
                at += stride;
            }
        } else if (kind < 72) {
            // An array of records: id, time, amount, status, name pointer.
            uint32_t id = rng.Range(1000, 900000), when = 0x66400000 + rng.Below(0x01000000);
            uint32_t name = book.HeapPointer(rng, addr);
            while (p.Room() >= 20) {
                p.U32(id++);
                p.U32(when += rng.Below(3600));
                p.U32(rng.Below(4) ? rng.Below(100) * 100 : rng.Below(1000000));
                p.U32(rng.Below(5));
                p.U32(name += 8 * rng.Range(4, 12));
            }
        } else if (kind < 82) {
            if (kind < 76) {
                // Zero-initialised and not written yet.
                recent.push_back({payload_pos, payload});
                w.Seek(payload_pos + payload);
                continue;
            }
            // Random-looking: hashes, GUIDs, encrypted session data.
            rng.Fill(p.At(0), payload);
            p.Seek(payload);
        } else if (kind < 90 && !recent.empty()) {
            // Freed, still holding an earlier block's bytes.
            const Recent& r = recent[recent.size() - 1 - rng.Below(uint32_t(std::min<size_t>(recent.size(), 64)))];
            uint32_t n = std::min(r.len, payload);
            std::memmove(p.At(0), region + r.pos, n);
            p.Seek(n);
        } else if (kind < 95) {
            // Freed and filled with the free pattern.
            while (p.Room() >= 4) p.U32(0xFEEEFEEE);
        }
        // Anything left of the payload stays zero.
        recent.push_back({payload_pos, payload});
        w.Seek(payload_pos + payload);
    }
}

// A thread's committed stack: frames near the top (saved frame pointer, return address, arguments
// and locals), stale frames of earlier deeper calls below them, and untouched zero pages below that.
void FillStack(uint8_t* region, uint32_t size, uint32_t base, Rng& rng, const AddressBook& book, Thread& t) {
    ByteWriter w(region, size);
    uint32_t used = std::max<uint32_t>(AlignUp(size / 100 * rng.Range(10, 60), 16), 1024);
    uint32_t stale = std::min<uint32_t>(rng.Range(2 * kKiB, 16 * kKiB), size - used);
    uint32_t top = size - 32;  // the very top holds the start routine's arguments and a terminator
    w.Seek(top);
    w.U32(0xFFFFFFFF);
    w.U32(book.ReturnAddress(rng));
    w.U32(0);
    w.U32(t.teb);
    uint32_t cursor = top;
    uint32_t saved_ebp = 0;
    uint32_t bottom = size - used - stale;
    bool live = true;
    while (cursor > bottom + 1200) {
        if (live && cursor < size - used) {
            live = false;
            t.esp = base + cursor;
        }
        uint32_t nargs = rng.Below(5), nlocals = rng.Range(2, 48);
        uint32_t frame = (2 + nargs + nlocals) * 4;
        bool path_buffer = rng.Chance(8);
        if (path_buffer) frame += 520;
        uint32_t start = cursor - frame;
        uint32_t ebp_slot = start + nlocals * 4 + (path_buffer ? 520 : 0);
        w.Seek(start);
        if (path_buffer) {
            std::string path = std::string("C:\\Users\\zhangwei\\AppData\\Local\\Temp\\Vizoziv\\") +
                               rng.Pick(kChinesePhrases) + ".dat";
            std::u16string wide = Utf8ToUtf16(path);
            PutUtf16(w, wide, 259);
            w.U16(0);
            while (w.Pos() < start + 520) {
                if (rng.Chance(70)) w.U16(0);
                else w.U16(uint16_t(rng.Next32()));
            }
        }
        while (w.Pos() < ebp_slot) {
            if (rng.Chance(10)) w.U32(base + ebp_slot + rng.Below(64) * 4);  // pointer into the stack
            else PutContextWord(w, rng, book, base);
        }
        w.U32(saved_ebp);
        w.U32(book.ReturnAddress(rng));
        for (uint32_t a = 0; a < nargs; ++a) PutContextWord(w, rng, book, base);
        saved_ebp = base + ebp_slot;
        if (live) t.ebp = saved_ebp;
        cursor = start;
        if (!live && rng.Chance(15)) {
            // Stale frames are partly overwritten by later shallow calls.
            uint32_t gap = std::min(cursor - bottom, rng.Range(16, 256) & ~3u);
            cursor -= gap;
        }
    }
    if (t.esp == 0) t.esp = base + cursor;
    if (t.ebp == 0) t.ebp = saved_ebp;
    t.eip = book.ReturnAddress(rng);
}

void PutLocation(ByteWriter& w, uint32_t size, uint32_t rva) {
    w.U32(size);
    w.U32(rva);
}

// An x86 CONTEXT record (716 bytes) with the registers of a thread stopped in user code.
void PutContext(ByteWriter& w, Rng& rng, const AddressBook& book, const Thread& t) {
    size_t start = w.Pos();
    w.U32(0x0001003F);  // CONTEXT_ALL for x86
    w.Fill(0, 24);      // debug registers
    w.U32(0xFFFF027F);  // FPU control word
    w.U32(0xFFFF0000);
    w.U32(0xFFFFFFFF);
    w.Fill(0, 112 - 12);
    w.U32(0x2B);  // GS
    w.U32(0x53);  // FS
    w.U32(0x2B);  // ES
    w.U32(0x2B);  // DS
    for (int r = 0; r < 6; ++r) PutContextWord(w, rng, book, t.esp);  // EDI ESI EBX EDX ECX EAX
    w.U32(t.ebp);
    w.U32(t.eip);
    w.U32(0x23);   // CS
    w.U32(0x246);  // EFLAGS
    w.U32(t.esp);
    w.U32(0x2B);  // SS
    size_t ext = w.Pos();
    w.Fill(0, 512);
    w.PatchU32(ext + 24, 0x1F80);  // MXCSR
    if (w.Pos() - start != 716) throw std::logic_error("corpus_gen: CONTEXT size");
}

// The debug-information path a module's CodeView record names.
std::string PdbPath(const Module& m) { return m.dump_name.substr(0, m.dump_name.rfind('.')) + ".pdb"; }

struct Corpus {
    std::vector<std::string> notes;  // where module bytes came from
};

std::vector<uint8_t> MakeMinidump(Corpus& corpus) {
    Rng rng(0x4D444D5031ull);  // fixed: the corpus must be the same on every run

    std::vector<Module> modules;
    size_t product_count = 0;  // modules[0] is the executable, then the product's DLLs, then the system's
    {
        ModuleLoader loader(rng);
        std::vector<ModuleSource> product(std::begin(kProductModules), std::end(kProductModules));
        loader.Load(product, "C:\\Program Files (x86)\\Tovrek\\plugins\\", 4608 * kKiB, modules);
        product_count = modules.size();
        // Wine's DLL folder moved between releases; take the first that holds the list's first DLL.
        std::string dll_dir = kWineDllDirs[0];
        for (const char* dir : kWineDllDirs) {
            if (fs::exists(fs::path(dir) / kSystemDlls[0])) {
                dll_dir = dir;
                break;
            }
        }
        std::vector<std::string> paths, names;
        for (const char* dll : kSystemDlls) {
            paths.push_back(dll_dir + "/" + dll);
            names.push_back(std::string("C:\\Windows\\SysWOW64\\") + dll);
        }
        std::vector<ModuleSource> system;
        for (size_t i = 0; i < paths.size(); ++i) system.push_back({paths[i].c_str(), names[i].c_str()});
        loader.Load(system, "C:\\Windows\\SysWOW64\\", 8 * kMiB, modules);
        modules[0].is_exe = true;
        for (size_t i = 0; i < modules.size(); ++i) {
            corpus.notes.push_back((i < product_count ? "product " : "system  ") + modules[i].dump_name + " <- " +
                                   modules[i].source + " (" + std::to_string(modules[i].image.size()) + " bytes)");
        }
    }

    // Plan the regions that are not module images, by kind and size.
    std::vector<Region> regions;
    std::vector<Region> low;  // placed among each other below the system DLLs
    uint32_t planned = 0;
    for (size_t i = 0; i < modules.size(); ++i) planned += modules[i].size;
    std::vector<Thread> threads;
    for (uint32_t i = 0; i < 18; ++i) {
        uint32_t size = i == 0 ? 256 * kKiB : rng.Range(2, 32) * kPage;
        threads.push_back({0x1000 + rng.Below(0x4000) * 4, 0, 0x7EFDD000u - i * 0x3000, 0, 0, 0});
        low.push_back({RegionKind::Stack, 0, size, i});
        planned += size;
    }
    for (uint32_t total = 0; total < 5 * kMiB;) {
        uint32_t size = rng.Range(16, 256) * kPage;
        low.push_back({RegionKind::Zero, 0, size, 0});
        total += size;
        planned += size;
    }
    for (uint32_t total = 0; total < 2 * kMiB;) {
        uint32_t size = rng.Range(16, 128) * kPage;
        low.push_back({RegionKind::Random, 0, size, 0});
        total += size;
        planned += size;
    }
    // Heaps take the rest; the last one (the filler) is sized once the header's size is known.
    constexpr uint32_t kHeaderBound = 64 * kKiB;
    constexpr uint32_t kFillerReserve = 5 * kMiB;
    for (;;) {
        uint32_t size = rng.Range(64, 512) * kPage;
        if (planned + size > kMinidumpSize - kHeaderBound - 2 * kMiB) break;
        low.push_back({RegionKind::Heap, 0, size, 0});
        planned += size;
    }
    for (size_t i = low.size() - 1; i > 0; --i) std::swap(low[i], low[rng.Below(uint32_t(i + 1))]);
    // The process heap is made first of all.
    low.insert(low.begin(), Region{RegionKind::Heap, 0, kFillerReserve, 1});
    const size_t product_modules = product_count;
    for (size_t i = 1; i < product_modules; ++i) {
        // Each product DLL somewhere among the other low regions.
        size_t at = 1 + rng.Below(uint32_t(low.size()));
        low.insert(low.begin() + std::ptrdiff_t(at), Region{RegionKind::Module, 0, modules[i].size, uint32_t(i)});
    }

    const uint32_t exe_base = 0x00400000, exe_end = exe_base + modules[0].size;
    modules[0].base = exe_base;
    regions.push_back({RegionKind::Module, exe_base, modules[0].size, 0});
    uint32_t cursor = 0x00020000;
    for (Region& r : low) {
        cursor = AlignUp(cursor, 64 * kKiB);
        if (cursor < exe_end && cursor + r.size > exe_base) cursor = AlignUp(exe_end, 64 * kKiB);
        r.base = cursor;
        cursor += r.size + rng.Below(16) * 64 * kKiB;
        if (r.kind == RegionKind::Module) modules[r.index].base = r.base;
        regions.push_back(r);
    }
    cursor = 0x74000000;
    for (size_t i = product_modules; i < modules.size(); ++i) {
        modules[i].base = cursor;
        regions.push_back({RegionKind::Module, cursor, modules[i].size, uint32_t(i)});
        cursor = AlignUp(cursor + modules[i].size + rng.Below(8) * 64 * kKiB, 64 * kKiB);
    }
    std::sort(regions.begin(), regions.end(), [](const Region& a, const Region& b) { return a.base < b.base; });
    size_t filler = 0;
    for (size_t i = 0; i < regions.size(); ++i) {
        if (regions[i].kind == RegionKind::Heap && regions[i].index == 1) filler = i;
        if (regions[i].kind == RegionKind::Stack) threads[regions[i].index].region = uint32_t(i);
    }

    AddressBook book;
    for (const Region& r : regions)
        if (r.kind == RegionKind::Heap) book.heaps.push_back({r.base, r.index == 1 ? 2 * kMiB : r.size});
    for (const Module& m : modules) {
        // Return addresses fall mostly into the executable and the few DLLs the program calls most.
        uint32_t count = m.is_exe ? 600 : std::clamp<uint32_t>(m.size / (16 * kKiB), 8, 120);
        for (uint32_t k = 0; k < count; ++k) book.functions.push_back((m.base + 0x1000 + rng.Below(m.size / 2)) & ~15u);
    }
    for (uint32_t k = 0; k < 300; ++k)
        book.vtables.push_back(exe_base + modules[0].size / 10 * 6 + (rng.Below(modules[0].size / 5) & ~3u));
    book.string_manager = exe_base + modules[0].size / 10 * 7 + 0x40;

    // Header layout: header, directory, then the streams, then the memory of all regions.
    constexpr uint32_t kStreams = 6, kContextSize = 716;
    const std::u16string csd = Utf8ToUtf16("Service Pack 1");
    uint32_t off = 32 + kStreams * 12;
    const uint32_t sysinfo_rva = off;
    off += 56;
    const uint32_t csd_rva = off;
    off += 4 + uint32_t(csd.size()) * 2 + 2;
    const uint32_t misc_rva = AlignUp(off, 4);
    off = misc_rva + 24;
    const uint32_t exception_rva = off;
    off += 168;
    const uint32_t exception_context_rva = off;
    off += kContextSize;
    const uint32_t threads_rva = off;
    off += 4 + uint32_t(threads.size()) * 48;
    const uint32_t contexts_rva = off;
    off += uint32_t(threads.size()) * kContextSize;
    const uint32_t modules_rva = off;
    off += 4 + uint32_t(modules.size()) * 108;
    std::vector<uint32_t> name_rva, cv_rva, cv_size;
    for (const Module& m : modules) {
        name_rva.push_back(off);
        off += 4 + uint32_t(Utf8ToUtf16(m.dump_name).size()) * 2 + 2;
        off = AlignUp(off, 4);
        cv_rva.push_back(off);
        cv_size.push_back(24 + uint32_t(PdbPath(m).size()) + 1);
        off += AlignUp(cv_size.back(), 4);
    }
    const uint32_t memory_rva = off;
    off += 16 + uint32_t(regions.size()) * 16;
    const uint32_t data_rva = off;
    if (data_rva > kHeaderBound) throw std::logic_error("corpus_gen: header larger than planned");
    uint32_t others = 0;
    for (size_t i = 0; i < regions.size(); ++i)
        if (i != filler) others += regions[i].size;
    regions[filler].size = kMinidumpSize - data_rva - others;
    if (regions[filler].size > kFillerReserve || regions[filler].size < kMiB)
        throw std::logic_error("corpus_gen: filler heap out of its reserve");
    uint32_t rva = data_rva;
    for (Region& r : regions) {
        r.rva = rva;
        rva += r.size;
    }

    std::vector<uint8_t> dump(kMinidumpSize, 0);
    ByteWriter w(dump.data(), dump.size());

    // Memory first (the streams refer to what it holds: stack pointers, code addresses).
    for (Region& r : regions) {
        uint8_t* p = dump.data() + r.rva;
        switch (r.kind) {
        case RegionKind::Module: {
            const Module& m = modules[r.index];
            std::memcpy(p, m.image.data(), m.image.size());
            break;
        }
        case RegionKind::Heap: FillHeap(p, r.size, r.base, rng, book); break;
        case RegionKind::Stack: FillStack(p, r.size, r.base, rng, book, threads[r.index]); break;
        case RegionKind::Zero: break;
        case RegionKind::Random: rng.Fill(p, r.size); break;
        }
    }

    w.Seek(0);
    w.U32(0x504D444D);  // "MDMP"
    w.U32(0x0000A793);
    w.U32(kStreams);
    w.U32(32);
    w.U32(0);
    w.U32(0x6641C2A5);          // time of the dump
    w.U64(0x0000000000041826);  // full memory, handle data, thread info, module headers
    const std::pair<uint32_t, std::pair<uint32_t, uint32_t>> directory[kStreams] = {
        {3, {4 + uint32_t(threads.size()) * 48, threads_rva}},
        {4, {4 + uint32_t(modules.size()) * 108, modules_rva}},
        {9, {data_rva - memory_rva, memory_rva}},
        {6, {168, exception_rva}},
        {7, {56, sysinfo_rva}},
        {15, {24, misc_rva}},
    };
    for (const auto& [type, loc] : directory) {
        w.U32(type);
        PutLocation(w, loc.first, loc.second);
    }

    w.Seek(sysinfo_rva);
    w.U16(0);  // x86
    w.U16(23);
    w.U16(0x3101);
    w.U8(2);
    w.U8(1);  // workstation
    w.U32(6);
    w.U32(1);
    w.U32(7601);
    w.U32(2);
    w.U32(csd_rva);
    w.U16(0x0100);
    w.U16(0);
    w.Bytes("AuthenticAMD", 12);
    w.U32(0x00830F10);
    w.U32(0x178BFBFF);
    w.U32(0);
    w.Seek(csd_rva);
    w.U32(uint32_t(csd.size()) * 2);
    PutUtf16(w, csd, csd.size());
    w.U16(0);

    w.Seek(misc_rva);
    w.U32(24);
    w.U32(3);
    w.U32(0x1F3C);
    w.U32(0x6641A0B7);
    w.U32(37);
    w.U32(11);

    const Thread& crashed = threads[0];
    w.Seek(exception_rva);
    w.U32(crashed.id);
    w.U32(0);
    w.U32(0xC0000005);  // access violation
    w.U32(0);
    w.U64(0);
    w.U64(crashed.eip);
    w.U32(2);
    w.U32(0);
    w.U64(0);  // read
    w.U64(0x00000014);
    w.Fill(0, 13 * 8);
    PutLocation(w, kContextSize, exception_context_rva);
    PutContext(w, rng, book, crashed);

    w.Seek(threads_rva);
    w.U32(uint32_t(threads.size()));
    for (size_t i = 0; i < threads.size(); ++i) {
        const Thread& t = threads[i];
        const Region& r = regions[t.region];
        w.U32(t.id);
        w.U32(0);
        w.U32(0x20);
        w.U32(i == 0 ? 0 : rng.Below(3));
        w.U64(t.teb);
        w.U64(r.base);
        PutLocation(w, r.size, r.rva);
        PutLocation(w, kContextSize, contexts_rva + uint32_t(i) * kContextSize);
    }
    for (const Thread& t : threads) PutContext(w, rng, book, t);

    w.Seek(modules_rva);
    w.U32(uint32_t(modules.size()));
    for (size_t i = 0; i < modules.size(); ++i) {
        const Module& m = modules[i];
        w.U64(m.base);
        w.U32(m.size);
        w.U32(m.checksum);
        w.U32(m.time_stamp);
        w.U32(name_rva[i]);
        w.U32(0xFEEF04BD);  // version information signature
        w.U32(0x00010000);
        uint32_t major = m.is_exe ? 0x00030002 : 0x00060001, minor = m.is_exe ? 0x00000011 : 0x1DB1 + rng.Below(600);
        w.U32(major);
        w.U32(minor);
        w.U32(major);
        w.U32(minor);
        w.U32(0x3F);
        w.U32(0);
        w.U32(0x00040004);
        w.U32(m.is_exe ? 1 : 2);
        w.U32(0);
        w.U32(0);
        w.U32(0);
        PutLocation(w, cv_size[i], cv_rva[i]);
        PutLocation(w, 0, 0);
        w.U64(0);
        w.U64(0);
    }
    for (size_t i = 0; i < modules.size(); ++i) {
        std::u16string name = Utf8ToUtf16(modules[i].dump_name);
        w.Seek(name_rva[i]);
        w.U32(uint32_t(name.size()) * 2);
        PutUtf16(w, name, name.size());
        w.U16(0);
        w.Seek(cv_rva[i]);
        w.Bytes("RSDS", 4);
        uint8_t guid[16];
        rng.Fill(guid, 16);
        w.Bytes(guid, 16);
        w.U32(1 + rng.Below(3));
        std::string pdb = PdbPath(modules[i]);
        w.Bytes(pdb.c_str(), pdb.size() + 1);
    }

    w.Seek(memory_rva);
    w.U64(regions.size());
    w.U64(data_rva);
    for (const Region& r : regions) {
        w.U64(r.base);
        w.U64(r.size);
    }
    if (w.Pos() != data_rva) throw std::logic_error("corpus_gen: header layout");
    return dump;
}

// ---------------------------------------------------------------------------------------------
// The application log: time-stamped lines from several threads, mostly Chinese, with SQL, URLs
// and JSON, and after some errors a native stack trace of a few recurring call chains.

struct Frame {
    std::string module, function, file;
    uint32_t address;
    uint32_t line;
};

class LogWriter {
public:
    LogWriter() : m_rng(0x4C4F4731ull) {
        const char* const functions[][3] = {
            {"TovrekCRM.exe", "CCustomerView::OnSave", "customerview.cpp"},
            {"TovrekCRM.exe", "CCustomerView::OnInitialUpdate", "customerview.cpp"},
            {"TovrekCRM.exe", "CCustomerDoc::Save", "customerdoc.cpp"},
            {"TovrekCRM.exe", "COrderEditDlg::OnOK", "ordereditdlg.cpp"},
            {"TovrekCRM.exe", "COrderService::Submit", "orderservice.cpp"},
            {"TovrekCRM.exe", "CSyncWorker::Run", "syncworker.cpp"},
            {"TovrekCRM.exe", "CSyncWorker::MergeCustomers", "syncworker.cpp"},
            {"TovrekCRM.exe", "CReportBuilder::Render", "reportbuilder.cpp"},
            {"TovrekCRM.exe", "CMainFrame::OnTimer", "mainframe.cpp"},
            {"TovrekCRM.exe", "CCrmApp::Run", "crmapp.cpp"},
            {"TovrekData.dll", "Db::Statement::Step", "statement.cpp"},
            {"TovrekData.dll", "Db::Connection::Execute", "connection.cpp"},
            {"TovrekData.dll", "Db::Pool::Acquire", "pool.cpp"},
            {"TovrekNet.dll", "Net::HttpClient::Post", "httpclient.cpp"},
            {"TovrekNet.dll", "Net::HttpClient::ReadResponse", "httpclient.cpp"},
            {"TovrekJson.dll", "Json::Parser::ParseValue", "parser.cpp"},
            {"uiframe.dll", "CWindow::OnMessage", ""},
            {"uiframe.dll", "CWindow::WindowProc", ""},
            {"uiframe.dll", "UiCallWindowProc", ""},
            {"uiframe.dll", "CUiThread::Run", ""},
            {"user32.dll", "DispatchMessageW", ""},
            {"user32.dll", "CallWindowProcW", ""},
            {"kernel32.dll", "BaseThreadInitThunk", ""},
            {"ntdll.dll", "RtlUserThreadStart", ""},
            {"msvcr120.dll", "memcpy", ""},
            {"msvcr120.dll", "_wcsicmp", ""},
        };
        std::vector<std::pair<std::string, uint32_t>> bases;  // one load address per module
        for (const auto& f : functions) {
            auto known = std::find_if(bases.begin(), bases.end(), [&](const auto& b) { return b.first == f[0]; });
            if (known == bases.end()) {
                uint32_t base = std::strcmp(f[0], "TovrekCRM.exe") == 0 ? 0x00400000 : 0x60000000 + m_rng.Below(0x1800) * 0x10000;
                known = bases.insert(bases.end(), {f[0], base});
            }
            m_frames.push_back({f[0], f[1], f[2], known->second + 0x1000 + (m_rng.Below(0x80000) & ~15u), m_rng.Range(40, 2400)});
        }
        // The call chains that fail over and over (innermost first), as indices into m_frames.
        m_chains = {{10, 11, 2, 0, 17, 18, 16, 20, 19, 9, 22, 23},
                    {24, 15, 14, 13, 4, 3, 17, 18, 16, 20, 19, 9, 22, 23},
                    {12, 11, 6, 5, 22, 23},
                    {25, 7, 8, 17, 18, 16, 21, 20, 19, 9, 22, 23},
                    {10, 11, 1, 17, 18, 16, 20, 19, 9, 22, 23}};
        for (int i = 0; i < 8; ++i) m_threads.push_back(0x0400 + m_rng.Below(0x3000) * 4);
    }

    std::string Make(uint32_t size) {
        std::string out;
        out.reserve(size + 4096);
        std::string line;
        for (;;) {
            line.clear();
            AppendEntry(line);
            if (out.size() + line.size() > size) break;
            out += line;
        }
        // The last line says the log was cut at its size limit, cut or padded so the file is exact.
        if (out.size() < size) {
            std::string last = Stamp() + " [INFO ] [T" + Hex(m_threads[0], 4) + "] App: 日志文件达到大小上限，已截断";
            size_t room = size - out.size() - 1;
            if (last.size() > room) {
                last.resize(room);
                // Never leave half a UTF-8 character.
                while (!last.empty() && (uint8_t(last.back()) & 0xC0) == 0x80) last.pop_back();
                if (!last.empty() && uint8_t(last.back()) >= 0xC0) last.pop_back();
            }
            last.append(room - last.size(), ' ');
            out += last;
            out += '\n';
        }
        return out;
    }

private:
    static std::string Hex(uint32_t v, int digits) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%0*X", digits, v);
        return buf;
    }
    std::string Num(uint32_t lo, uint32_t hi) { return std::to_string(m_rng.Range(lo, hi)); }

    std::string Stamp() {
        // Lines come in bursts: mostly milliseconds apart, sometimes seconds or minutes.
        uint32_t roll = m_rng.Below(100);
        m_ms += roll < 60 ? m_rng.Below(20) : roll < 95 ? m_rng.Below(2000) : m_rng.Below(300000);
        uint64_t secs = m_ms / 1000;
        uint32_t day = uint32_t(secs / 86400), sod = uint32_t(secs % 86400);
        static const uint32_t month_days[] = {31, 30, 31, 30, 31, 31, 30, 31, 30, 31};  // May to February
        uint32_t month = 5, mday = 13 + day;
        for (uint32_t m = 0; m < 10 && mday > month_days[m]; ++m) {
            mday -= month_days[m];
            ++month;
        }
        char buf[40];
        std::snprintf(buf, sizeof buf, "2024-%02u-%02u %02u:%02u:%02u.%03u", month, mday, sod / 3600, sod / 60 % 60,
                      sod % 60, uint32_t(m_ms % 1000));
        return buf;
    }

    // Message templates: <lo-hi> a number, <name> <company> <city> <host> <phrase> <english> a word,
    // <guid> <hex8> <token> random identifiers. Placeholders are filled strictly left to right, so the
    // random sequence does not depend on how a compiler orders the operands of an expression.
    std::string Expand(const char* pattern) {
        std::string out;
        for (const char* p = pattern; *p;) {
            if (*p != '<') {
                out += *p++;
                continue;
            }
            const char* close = std::strchr(p, '>');
            std::string key(p + 1, close);
            p = close + 1;
            size_t dash = key.find('-');
            if (!key.empty() && key[0] >= '0' && key[0] <= '9' && dash != std::string::npos) {
                out += Num(uint32_t(std::stoul(key.substr(0, dash))), uint32_t(std::stoul(key.substr(dash + 1))));
            } else if (key == "name") {
                out += m_rng.Pick(kPersonNames);
            } else if (key == "company") {
                out += m_rng.Pick(kCompanies);
            } else if (key == "city") {
                out += m_rng.Pick(kCities);
            } else if (key == "host") {
                out += m_rng.Pick(kHosts);
            } else if (key == "phrase") {
                out += m_rng.Pick(kChinesePhrases);
            } else if (key == "english") {
                out += m_rng.Pick(kEnglishPhrases);
            } else if (key == "hex8") {
                out += Hex(m_rng.Next32(), 8);
            } else if (key == "token") {
                for (int i = 0; i < 3; ++i) out += Hex(m_rng.Next32(), 8);
            } else if (key == "guid") {
                out += Hex(m_rng.Next32(), 8);
                out += '-';
                out += Hex(m_rng.Below(0x10000), 4);
                out += "-4";
                out += Hex(m_rng.Below(0x1000), 3);
                out += '-';
                out += Hex(0x8000 + m_rng.Below(0x4000), 4);
                out += '-';
                out += Hex(m_rng.Below(0x10000), 4);
                out += Hex(m_rng.Next32(), 8);
            } else {
                throw std::logic_error("corpus_gen: unknown placeholder <" + key + ">");
            }
        }
        return out;
    }

    std::string Message(uint32_t level) {
        static const char* const everyday[] = {
            "正在加载客户列表 page=<1-40> size=50",
            "客户资料已保存 id=<10000-99999> 名称=\"<company>\"",
            "用户 <name> 登录成功，来自 <city>",
            "同步完成: 新增 <0-30> 条，更新 <0-200> 条，删除 <0-5> 条",
            "数据库查询耗时 <1-900> ms: <english>",
            "HTTP POST https://<host>/api/v2/orders/<100000-999999> -> 200 (<20-1500> ms)",
            "请求 <guid> 完成 status=200 bytes=<200-90000> elapsed=<5-3000>ms",
            "跟进记录已添加: 客户=<company> 负责人=<name>",
            "合同编号 HT-2024-<1000-9999> 审批通过",
            "发票 FP<10000000-99999999> 金额 <100-500000>.<10-99> 元 已开具",
            "窗口 CCustomerView 已创建 hwnd=0x<hex8>",
            "内存使用 <40000-400000> KB, 句柄数 <300-2000>, GDI 对象 <100-900>",
            ("JSON: {\"id\":<10000-99999>,\"name\":\"<company>\",\"contact\":\"<name>\",\"city\":\"<city>\","
             "\"tags\":[\"VIP\",\"重点客户\"],\"balance\":<0-900000>,\"updated\":\"2024-05-13T<10-23>:<10-59>:<10-59>+08:00\"}"),
            "缓存命中率 <40-99>% (条目 <100-20000>)",
            "会话令牌已刷新 token=<token>",
            "打印任务已发送到 \"\\\\PRINTSRV\\<name>-打印机\" 共 <1-30> 页",
            "Loaded <1-5000> rows in <1-800> ms",
            "<phrase>：<phrase>",
            "Timer tick, idle <0-600> s",
            "报表生成中: C:\\Users\\zhangwei\\Documents\\报表\\<phrase>.xlsx",
            "GET https://<host>/api/v2/customers?page=<1-200>&size=50&region=<1-34>&owner=<1000-9999> -> 200 "
            "(<3-900> ms, <200-90000> bytes)",
            "SQL: UPDATE customer SET last_contact='2024-05-<13-19> <10-23>:<10-59>:<10-59>', owner_id=<1000-9999> "
            "WHERE id=<10000-99999>",
            "客户 <company> (<10000-99999>) 的联系人 <name> 电话 1<30-89><1000-9999><1000-9999> 已更新",
            "附件上传完成: <phrase>_<10000-99999>.pdf 大小 <1000-9000000> 字节 md5=<token>",
            "线程池: 活动 <1-16>, 排队 <0-200>, 已完成 <1000-999999>",
            "界面刷新 <1-400> ms, 可见行 <10-60>, 选中 <0-5>",
            "[<guid>] 开始处理请求 /api/v2/orders/<100000-999999>/items",
            "响应缓慢 <1000-30000> ms: POST /api/v2/sync/batch?since=<1700000000-1716000000>",
        };
        static const char* const failures[] = {
            "连接服务器失败，正在重试 (<1-5>/5) host=<host> err=10060",
            "连接服务器失败，正在重试 (<1-5>/5) host=<host> err=12002",
            "数据库连接超时 (30000 ms)，连接池已用 <8-16>/16",
            "订单 <100000-999999> 提交失败: 库存不足 (剩余 <0-9> 件)",
            "配置文件读取失败: C:\\ProgramData\\Tovrek\\crm.ini (错误码 <2-5>)",
            "异常: 0xC0000005 访问冲突，地址 0x<hex8>",
            "用户名或密码错误，账号 <name> 剩余尝试次数 <0-4>",
            "处理请求 <guid> 时发生异常: 对象引用为空 (customerdoc.cpp 第 <100-2400> 行)",
            "写入文件失败: C:\\Users\\zhangwei\\AppData\\Local\\Temp\\Vizoziv\\<phrase>_<1000-9999>.tmp (错误码 <5-112>)",
        };
        return Expand(level >= 3 ? m_rng.Pick(failures) : m_rng.Pick(everyday));
    }

    void AppendEntry(std::string& out) {
        static const char* const levels[] = {"DEBUG", "INFO ", "WARN ", "ERROR"};
        uint32_t roll = m_rng.Below(100);
        uint32_t level = roll < 25 ? 0 : roll < 75 ? 1 : roll < 90 ? 2 : 3;
        uint32_t thread = m_threads[m_rng.Below(m_rng.Chance(60) ? 2 : uint32_t(m_threads.size()))];
        out += Stamp();
        out += " [";
        out += levels[level];
        out += "] [T" + Hex(thread, 4) + "] ";
        out += m_rng.Pick(kLogModules);
        out += ": ";
        out += Message(level);
        out += '\n';
        if (level == 3 && m_rng.Chance(45)) {
            const std::vector<uint32_t>& chain = m_rng.Pick(m_chains);
            out += "    调用栈:\n";
            for (size_t k = 0; k < chain.size(); ++k) {
                const Frame& f = m_frames[chain[k]];
                uint32_t offset = (f.line * 7) % 0x300 + (k == 0 ? m_rng.Below(0x40) : 0);
                char buf[64];
                std::snprintf(buf, sizeof buf, "    #%02u 0x%08X ", uint32_t(k), f.address + offset);
                out += buf;
                out += f.module + "!" + f.function + "+0x" + Hex(offset, 1);
                if (!f.file.empty()) out += " [" + f.file + ":" + std::to_string(f.line + (k == 0 ? m_rng.Below(3) : 0)) + "]";
                out += '\n';
            }
        }
    }

    Rng m_rng;
    uint64_t m_ms = 8ull * 3600 * 1000;  // the log starts at 08:00 on its first day
    std::vector<Frame> m_frames;
    std::vector<std::vector<uint32_t>> m_chains;
    std::vector<uint32_t> m_threads;
};

// ---------------------------------------------------------------------------------------------

uint64_t Fingerprint(const std::vector<uint8_t>& bytes) {
    uint64_t h = 0xCBF29CE484222325ull;  // FNV-1a
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001B3ull;
    return h;
}

bool WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes, size_t expected) {
    if (bytes.size() != expected) {
        std::fprintf(stderr, "corpus_gen: %s would be %zu bytes, not %zu\n", path.string().c_str(), bytes.size(),
                     expected);
        return false;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "corpus_gen: cannot write %s\n", path.string().c_str());
        return false;
    }
    std::printf("  %-14s %10zu bytes  fnv1a64 %016llx\n", path.filename().string().c_str(), bytes.size(),
                static_cast<unsigned long long>(Fingerprint(bytes)));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool small = false;
    const char* dir = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--small") == 0) small = true;
        else if (!dir && argv[i][0] != '-') dir = argv[i];
        else dir = nullptr, i = argc;
    }
    if (!dir) {
        std::fprintf(stderr, "usage: corpus_gen [--small] DIR\n");
        return 2;
    }
    try {
        std::error_code ec;
        fs::create_directories(dir, ec);
        if (ec) {
            std::fprintf(stderr, "corpus_gen: cannot create %s: %s\n", dir, ec.message().c_str());
            return 1;
        }
        fs::path root(dir);
        std::printf("corpus in %s\n", dir);
        bool ok = true;
        if (!small) {
            Corpus corpus;
            std::vector<uint8_t> dump = MakeMinidump(corpus);
            ok &= WriteFile(root / "minidump.bin", dump, kMinidumpSize);
            for (const std::string& note : corpus.notes) std::printf("      %s\n", note.c_str());
            std::string log = LogWriter().Make(kLogSize);
            ok &= WriteFile(root / "applog.txt", std::vector<uint8_t>(log.begin(), log.end()), kLogSize);
        }
        std::vector<uint8_t> random(kRandomSize);
        Rng(0x52414E44ull).Fill(random.data(), random.size());
        ok &= WriteFile(root / "random.bin", random, kRandomSize);
        ok &= WriteFile(root / "empty.bin", {}, 0);
        const char ten[] = "crash!\r\n\x00\x01";
        ok &= WriteFile(root / "ten.bin", std::vector<uint8_t>(ten, ten + 10), 10);
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
