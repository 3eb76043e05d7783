// The resources linked into VELKBugReport.exe, read back from the built file: both dialog
// templates control by control, the About menu text, the icon, the version block, the manifest
// and the PE header (GUI subsystem, processor, large-address aware). How the dialogs look on screen
// is for the GUI tests and the demo.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/app/reporter_process.h"

namespace {

std::wstring ReporterPath() {
    return velk::test::BuildBinDirectory() + L"\\VELKBugReport.exe";
}

// The reporter as a resource file: nothing of it runs.
class ReporterResources : public ::testing::Test {
protected:
    void SetUp() override {
        module = LoadLibraryExW(ReporterPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << "cannot open the reporter";
    }
    void TearDown() override {
        if (module) FreeLibrary(module);
    }

    // The bytes of one resource; empty when it is missing.
    std::vector<BYTE> Resource(LPCWSTR type, LPCWSTR name) const {
        HRSRC info = FindResourceW(module, name, type);
        if (!info) return {};
        HGLOBAL loaded = LoadResource(module, info);
        const BYTE* bytes = static_cast<const BYTE*>(LockResource(loaded));
        if (!bytes) return {};
        return std::vector<BYTE>(bytes, bytes + SizeofResource(module, info));
    }

    HMODULE module = nullptr;
};

// A reader of the extended dialog template as the resource compiler lays it out.
class TemplateReader {
public:
    explicit TemplateReader(const std::vector<BYTE>& bytes) : m_bytes(bytes) {}

    bool Ok() const { return m_ok; }
    WORD Word() { return Read<WORD>(); }
    DWORD Dword() { return Read<DWORD>(); }
    short Short() { return static_cast<short>(Read<WORD>()); }
    BYTE Byte() { return Read<BYTE>(); }
    void AlignDword() { m_at = (m_at + 3) & ~size_t{3}; }

    // A zero-terminated string, or "#n" for an ordinal (0xFFFF then the number), "" for none.
    std::wstring StringOrOrdinal() {
        WORD first = Word();
        if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
        std::wstring text;
        for (WORD unit = first; m_ok && unit != 0; unit = Word()) text += static_cast<wchar_t>(unit);
        return text;
    }
    void Skip(size_t count) {
        if (m_at + count > m_bytes.size()) m_ok = false;
        m_at += count;
    }

private:
    template <typename T>
    T Read() {
        T value{};
        if (m_at + sizeof(T) > m_bytes.size()) {
            m_ok = false;
            return value;
        }
        std::memcpy(&value, m_bytes.data() + m_at, sizeof(T));
        m_at += sizeof(T);
        return value;
    }

    const std::vector<BYTE>& m_bytes;
    size_t m_at = 0;
    bool m_ok = true;
};

struct DialogItem {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    int id;
    std::wstring className;  // "#128" button, "#129" edit, "#130" static
    std::wstring text;
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    short cx = 0, cy = 0;
    std::wstring title;
    WORD pointSize = 0;
    std::wstring face;
    std::vector<DialogItem> items;
};

bool ParseDialog(const std::vector<BYTE>& bytes, DialogTemplate& out) {
    TemplateReader in(bytes);
    if (in.Word() != 1 || in.Word() != 0xFFFF) return false;  // version 1, the extended form
    in.Dword();                                                 // help id
    out.exStyle = in.Dword();
    out.style = in.Dword();
    WORD count = in.Word();
    in.Short();
    in.Short();
    out.cx = in.Short();
    out.cy = in.Short();
    in.StringOrOrdinal();  // menu
    in.StringOrOrdinal();  // class
    out.title = in.StringOrOrdinal();
    if (out.style & (DS_SETFONT | DS_SHELLFONT)) {
        out.pointSize = in.Word();
        in.Word();  // weight
        in.Byte();  // italic
        in.Byte();  // character set
        out.face = in.StringOrOrdinal();
    }
    for (WORD i = 0; i < count && in.Ok(); ++i) {
        in.AlignDword();
        DialogItem item;
        in.Dword();  // help id
        item.exStyle = in.Dword();
        item.style = in.Dword();
        item.x = in.Short();
        item.y = in.Short();
        item.cx = in.Short();
        item.cy = in.Short();
        item.id = static_cast<int>(in.Dword());
        item.className = in.StringOrOrdinal();
        item.text = in.StringOrOrdinal();
        in.Skip(in.Word());  // creation data
        out.items.push_back(item);
    }
    return in.Ok() && out.items.size() == count;
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

// The system's own control classes may be named or given by ordinal; both make the same control.
std::wstring ClassOrdinal(const std::wstring& name) {
    if (CompareStringOrdinal(name.c_str(), -1, L"Button", -1, TRUE) == CSTR_EQUAL) return L"#128";
    if (CompareStringOrdinal(name.c_str(), -1, L"Edit", -1, TRUE) == CSTR_EQUAL) return L"#129";
    if (CompareStringOrdinal(name.c_str(), -1, L"Static", -1, TRUE) == CSTR_EQUAL) return L"#130";
    return name;
}

// What the code and the user rely on: the control's kind, id, style and text. Where it sits is
// the resource script's business; that it lies inside the dialog, where it can be seen, is checked.
struct ExpectedItem {
    const wchar_t* className;
    int id;
    DWORD style;
    const wchar_t* text;  // null: any text but an empty one
};

void ExpectItems(const DialogTemplate& dialog, const std::vector<ExpectedItem>& expected) {
    ASSERT_EQ(dialog.items.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("control #" + std::to_string(i + 1));
        const DialogItem& item = dialog.items[i];
        const ExpectedItem& want = expected[i];
        EXPECT_EQ(ClassOrdinal(item.className), want.className);
        EXPECT_EQ(item.id, want.id);
        EXPECT_GE(item.x, 0);
        EXPECT_GE(item.y, 0);
        EXPECT_GT(item.cx, 0);
        EXPECT_GT(item.cy, 0);
        EXPECT_LE(item.x + item.cx, dialog.cx) << "reaches past the dialog's right edge";
        EXPECT_LE(item.y + item.cy, dialog.cy) << "reaches past the dialog's bottom edge";
        EXPECT_EQ(item.style, want.style) << std::hex << item.style;
        EXPECT_EQ(item.exStyle, 0u);
        if (want.text)
            EXPECT_EQ(item.text, want.text);
        else
            EXPECT_FALSE(item.text.empty());
    }
}

TEST_F(ReporterResources, ErrorReportDialogTemplate) {
    DialogTemplate dialog;
    ASSERT_TRUE(ParseDialog(Resource(RT_DIALOG, MAKEINTRESOURCEW(102)), dialog));
    EXPECT_EQ(dialog.style, static_cast<DWORD>(DS_SHELLFONT | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU))
        << std::hex << dialog.style;
    EXPECT_EQ(dialog.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
    EXPECT_EQ(dialog.title, L"错误报告");
    EXPECT_EQ(dialog.pointSize, 9);
    EXPECT_EQ(dialog.face, L"MS Shell Dlg");
    ExpectItems(dialog, {
        {L"#128", 1, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, L"确定"},
        {L"#130", -1, kChild | SS_LEFT | WS_GROUP, L"遇到错误需要关闭，给你带来不便，我们深表歉意"},
        {L"#130", -1, kChild | SS_ETCHEDFRAME, L""},
        {L"#130", -1, kChild | SS_LEFT | WS_GROUP,
         L"我们已经创建了一个错误报告，您可以发送给我们，帮助我们诊断这个错误的原因和改进这个软件，请描述发生这个错误时你在做什么。"},
        {L"#129", 1000,
         kChild | ES_LEFT | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL | WS_BORDER | WS_TABSTOP, L""},
        {L"#128", 1001, kChild | BS_AUTOCHECKBOX | WS_TABSTOP, L" 重启程序"},
    });
}

TEST_F(ReporterResources, AboutBoxTemplate) {
    DialogTemplate dialog;
    ASSERT_TRUE(ParseDialog(Resource(RT_DIALOG, MAKEINTRESOURCEW(100)), dialog));
    EXPECT_EQ(dialog.title, L"关于 VELKBugReport");
    EXPECT_EQ(dialog.pointSize, 9);
    EXPECT_EQ(dialog.face, L"MS Shell Dlg");
    EXPECT_TRUE(dialog.style & WS_CAPTION);
    EXPECT_TRUE(dialog.style & WS_SYSMENU);
    ExpectItems(dialog, {
        {L"#130", -1, kChild | SS_ICON, L"#128"},
        {L"#130", -1, kChild | SS_LEFT | SS_NOPREFIX | WS_GROUP, L"VELKBugReport，1.0 版"},
        {L"#130", -1, kChild | SS_LEFT | WS_GROUP, nullptr},
        {L"#128", 1, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, L"确定"},
    });
}

TEST_F(ReporterResources, AboutMenuText) {
    wchar_t text[64] = {};
    ASSERT_GT(LoadStringW(module, 101, text, 64), 0);
    EXPECT_STREQ(text, L"关于 VELKBugReport(&A)...");
}

TEST_F(ReporterResources, IconIsOne24By24ImageOf32Bits) {
    std::vector<BYTE> group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(128));
    ASSERT_EQ(group.size(), 6u + 14u) << "a directory of exactly one image";
    WORD count = 0;
    std::memcpy(&count, &group[4], 2);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(group[6], 24);  // width
    EXPECT_EQ(group[7], 24);  // height
    WORD bits = 0, imageId = 0;
    std::memcpy(&bits, &group[12], 2);
    std::memcpy(&imageId, &group[18], 2);
    EXPECT_EQ(bits, 32);

    std::vector<BYTE> image = Resource(RT_ICON, MAKEINTRESOURCEW(imageId));
    ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header;
    std::memcpy(&header, image.data(), sizeof(header));
    EXPECT_EQ(header.biWidth, 24);
    EXPECT_EQ(header.biHeight, 48) << "colour image and mask";
    EXPECT_EQ(header.biBitCount, 32);
    // 24 x 24 pixels of 4 bytes, then a mask of 24 rows of 4 bytes.
    EXPECT_EQ(image.size(), sizeof(header) + 24u * 24u * 4u + 24u * 4u);
}

TEST_F(ReporterResources, VersionBlock) {
    std::wstring path = ReporterPath();
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    WORD* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0804);
    EXPECT_EQ(translation[1], 1200);

    struct Value {
        const wchar_t* name;
        const wchar_t* text;
    };
    for (const Value& v : {Value{L"FileVersion", L"1.0.0.1"}, Value{L"ProductVersion", L"1.0.0.1"},
                           Value{L"InternalName", L"VELKBugReport.exe"}}) {
        SCOPED_TRACE(v.name);
        wchar_t* text = nullptr;
        std::wstring query = std::wstring(L"\\StringFileInfo\\080404B0\\") + v.name;
        ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length));
        EXPECT_STREQ(text, v.text);
    }

    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
}

BOOL CALLBACK CountName(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

TEST_F(ReporterResources, ManifestAsksForCommonControls6OfThisProcessor) {
    int manifests = 0;
    EnumResourceNamesW(module, RT_MANIFEST, &CountName, reinterpret_cast<LONG_PTR>(&manifests));
    EXPECT_EQ(manifests, 1) << "one manifest, no second one from the tool chain";

    std::vector<BYTE> bytes = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
    std::string manifest(bytes.begin(), bytes.end());
#ifdef _WIN64
    const char* processor = "processorArchitecture=\"amd64\"";
#else
    const char* processor = "processorArchitecture=\"x86\"";
#endif
    for (const char* part : {"name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"", processor,
                             "level=\"asInvoker\"", "uiAccess=\"false\"", ">true</dpiAware>"}) {
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    }
}

// The built reporter's PE headers; IMAGE_NT_HEADERS is the test program's own kind, which is the
// reporter's: both come from the same build. False when the file is no such image.
bool ReadReporterHeaders(IMAGE_NT_HEADERS* nt) {
    std::string bytes = velk::test::ReadFileBytes(ReporterPath());
    if (bytes.size() < 0x200) return false;
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, bytes.data(), sizeof(dos));
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0 ||
        static_cast<size_t>(dos.e_lfanew) + sizeof(*nt) > bytes.size())
        return false;
    std::memcpy(nt, bytes.data() + dos.e_lfanew, sizeof(*nt));
    return nt->Signature == IMAGE_NT_SIGNATURE;
}

TEST(ReporterImage, IsAGuiProgram) {
    IMAGE_NT_HEADERS nt;
    ASSERT_TRUE(ReadReporterHeaders(&nt));
    EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

// The upload holds the whole archive in memory: without the flag a 32-bit process gets 2 GiB of
// address space even under 64-bit Windows (with it, 4 GiB), and a 64-bit one is held to 2 GiB too.
TEST(ReporterImage, LargeAddressAwareForItsProcessor) {
    IMAGE_NT_HEADERS nt;
    ASSERT_TRUE(ReadReporterHeaders(&nt));
#ifdef _WIN64
    EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(nt.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
#else
    EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(nt.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
#endif
    EXPECT_TRUE(nt.FileHeader.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE);
}

}  // namespace
