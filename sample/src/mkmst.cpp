// Build-time tool (run under wine64): makes the language transforms of the
// sample packages and embeds them.
//
//   mkmst.exe make BASE.msi LANGID OUT.mst
//       Writes a transform of BASE that sets ProductLanguage to LANGID.
//   mkmst.exe embed PACKAGE.msi NAME FILE.mst [NAME FILE.mst ...]
//       Stores each transform as sub-storage NAME of PACKAGE through the
//       _Storages table, so TRANSFORMS=:NAME selects it.
//
// Wine's msi.dll does not implement MsiDatabaseGenerateTransform, so "make"
// writes the transform storage itself with ole32: the transform's own string
// pool, one row record for the Property table and the transform summary
// information. Row records follow the installer's transform layout: a 16-bit
// column mask (bit i = column i present, key columns always present), then
// the present columns, strings as indexes into the transform's string pool.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <objbase.h>

#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// {000C1082-0000-0000-C000-000000000046}: class of a transform storage.
const CLSID kClsidMsiTransform = {0x000C1082, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// FMTID_SummaryInformation {F29F85E0-4FF9-1068-AB91-08002B27B3D9}
const GUID kFmtidSummary = {0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}};

// Summary information property ids (as used by installer databases).
enum : std::uint32_t {
    kPidCodepage = 1, kPidTitle = 2, kPidSubject = 3, kPidAuthor = 4, kPidTemplate = 7,
    kPidLastAuthor = 8, kPidRevNumber = 9, kPidPageCount = 14, kPidCharCount = 16,
    kPidAppName = 18, kPidSecurity = 19,
};

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& b, std::uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

bool fail(const char* what, unsigned long code) {
    std::fprintf(stderr, "mkmst: %s failed (0x%lx)\n", what, code);
    return false;
}

// Stream name of a table inside an installer storage: a 0x4840 prefix, then
// the name packed two characters per UTF-16 unit where possible.
int mime64(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'A' && c <= L'Z') return c - L'A' + 10;
    if (c >= L'a' && c <= L'z') return c - L'a' + 36;
    if (c == L'.') return 62;
    if (c == L'_') return 63;
    return -1;
}

std::wstring table_stream_name(const std::wstring& table) {
    std::wstring out(1, static_cast<wchar_t>(0x4840));
    for (size_t i = 0; i < table.size(); ++i) {
        const int a = mime64(table[i]);
        if (a < 0) {
            out += table[i];
            continue;
        }
        const int b = i + 1 < table.size() ? mime64(table[i + 1]) : -1;
        if (b >= 0) {
            out += static_cast<wchar_t>(0x3800 + a + (b << 6));
            ++i;
        } else {
            out += static_cast<wchar_t>(0x4800 + a);
        }
    }
    return out;
}

bool write_stream(IStorage* stg, const std::wstring& name, const Bytes& data) {
    IStream* stm = nullptr;
    HRESULT hr = stg->CreateStream(name.c_str(), STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stm);
    if (FAILED(hr)) return fail("CreateStream", hr);
    ULONG written = 0;
    hr = stm->Write(data.data(), static_cast<ULONG>(data.size()), &written);
    stm->Release();
    if (FAILED(hr) || written != data.size()) return fail("stream Write", hr);
    return true;
}

bool read_stream(IStorage* stg, const std::wstring& name, Bytes& data) {
    IStream* stm = nullptr;
    HRESULT hr = stg->OpenStream(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stm);
    if (FAILED(hr)) return fail("OpenStream", hr);
    STATSTG st;
    stm->Stat(&st, STATFLAG_NONAME);
    data.resize(static_cast<size_t>(st.cbSize.QuadPart));
    ULONG got = 0;
    hr = stm->Read(data.data(), static_cast<ULONG>(data.size()), &got);
    stm->Release();
    if (FAILED(hr) || got != data.size()) return fail("stream Read", hr);
    return true;
}

std::string query_property(MSIHANDLE db, const char* name) {
    std::string sql = std::string("SELECT `Value` FROM `Property` WHERE `Property` = '") + name + "'";
    MSIHANDLE view = 0, rec = 0;
    std::string value;
    if (MsiDatabaseOpenViewA(db, sql.c_str(), &view) == ERROR_SUCCESS &&
        MsiViewExecute(view, 0) == ERROR_SUCCESS && MsiViewFetch(view, &rec) == ERROR_SUCCESS) {
        char buf[256];
        DWORD len = sizeof buf;
        if (MsiRecordGetStringA(rec, 1, buf, &len) == ERROR_SUCCESS) value.assign(buf, len);
        MsiCloseHandle(rec);
    }
    if (view) MsiCloseHandle(view);
    return value;
}

std::string summary_template(MSIHANDLE db) {
    MSIHANDLE si = 0;
    std::string value;
    if (MsiGetSummaryInformationA(db, nullptr, 0, &si) != ERROR_SUCCESS) return value;
    UINT type = 0;
    INT ival = 0;
    FILETIME ft;
    char buf[256];
    DWORD len = sizeof buf;
    if (MsiSummaryInfoGetPropertyA(si, kPidTemplate, &type, &ival, &ft, buf, &len) == ERROR_SUCCESS)
        value.assign(buf, len);
    MsiCloseHandle(si);
    return value;
}

// Summary information property set with string and integer properties.
struct SummaryProp {
    std::uint32_t pid;
    std::uint16_t vt;  // VT_I2, VT_I4 or VT_LPSTR
    std::int32_t number;
    std::string text;
};

Bytes summary_stream(const std::vector<SummaryProp>& props) {
    Bytes values;
    std::vector<std::uint32_t> offsets;
    const std::uint32_t table_size = 8 + 8 * static_cast<std::uint32_t>(props.size());
    for (const auto& p : props) {
        offsets.push_back(table_size + static_cast<std::uint32_t>(values.size()));
        put32(values, p.vt);
        if (p.vt == VT_LPSTR) {
            put32(values, static_cast<std::uint32_t>(p.text.size() + 1));
            values.insert(values.end(), p.text.begin(), p.text.end());
            values.push_back(0);
        } else if (p.vt == VT_I2) {
            put16(values, static_cast<std::uint16_t>(p.number));
        } else {
            put32(values, static_cast<std::uint32_t>(p.number));
        }
        while (values.size() % 4) values.push_back(0);
    }
    Bytes b;
    put16(b, 0xFFFE);      // byte order
    put16(b, 0);           // format version
    put32(b, 0x00020006);  // originating system
    b.insert(b.end(), 16, 0);
    put32(b, 1);  // one property set
    const auto* g = reinterpret_cast<const std::uint8_t*>(&kFmtidSummary);
    b.insert(b.end(), g, g + sizeof(GUID));
    put32(b, 48);  // section offset
    put32(b, table_size + static_cast<std::uint32_t>(values.size()));
    put32(b, static_cast<std::uint32_t>(props.size()));
    for (size_t i = 0; i < props.size(); ++i) {
        put32(b, props[i].pid);
        put32(b, offsets[i]);
    }
    b.insert(b.end(), values.begin(), values.end());
    return b;
}

bool make_transform(const std::wstring& base_path, const std::string& lang, const std::wstring& out_path) {
    // The transform's string pool uses the base database's code page.
    unsigned codepage = 0;
    {
        IStorage* base = nullptr;
        HRESULT hr = StgOpenStorage(base_path.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0, &base);
        if (FAILED(hr)) return fail("StgOpenStorage(base)", hr);
        Bytes pool;
        const bool ok = read_stream(base, table_stream_name(L"_StringPool"), pool);
        base->Release();
        if (!ok || pool.size() < 4) return fail("reading base string pool", 0);
        codepage = (pool[0] | (pool[1] << 8) | (pool[2] << 16) | ((pool[3] & 0x7F) << 24));
    }

    MSIHANDLE db = 0;
    UINT r = MsiOpenDatabaseW(base_path.c_str(), MSIDBOPEN_READONLY, &db);
    if (r != ERROR_SUCCESS) return fail("MsiOpenDatabase(base)", r);
    const std::string product = query_property(db, "ProductCode");
    const std::string version = query_property(db, "ProductVersion");
    const std::string upgrade = query_property(db, "UpgradeCode");
    const std::string tmpl = summary_template(db);
    MsiCloseHandle(db);
    if (product.empty() || version.empty() || upgrade.empty() || tmpl.empty())
        return fail("reading base properties", 0);
    const std::string platform = tmpl.substr(0, tmpl.find(';'));

    // String pool: header (code page), then (length, reference count) per string.
    const std::vector<std::string> strings = {"ProductLanguage", lang};
    Bytes pool, data;
    put16(pool, codepage & 0xFFFF);
    put16(pool, codepage >> 16);
    for (const auto& s : strings) {
        put16(pool, static_cast<unsigned>(s.size()));
        put16(pool, 1);
        data.insert(data.end(), s.begin(), s.end());
    }
    // Property (Property key, Value): change Value of the ProductLanguage row.
    Bytes property;
    put16(property, 0x0002);  // mask: Value column; the key is implied
    put16(property, 1);       // "ProductLanguage"
    put16(property, 2);       // LANGID

    const std::vector<SummaryProp> summary = {
        {kPidCodepage, VT_I2, 1252, {}},
        {kPidTitle, VT_LPSTR, 0, "Transform"},
        {kPidSubject, VT_LPSTR, 0, "Language " + lang},
        {kPidAuthor, VT_LPSTR, 0, "Halvern"},
        {kPidTemplate, VT_LPSTR, 0, tmpl},
        {kPidLastAuthor, VT_LPSTR, 0, platform + ";" + lang},
        {kPidRevNumber, VT_LPSTR, 0, product + version + ";" + product + version + ";" + upgrade},
        {kPidPageCount, VT_I4, 500, {}},
        // No validation and no error suppression: applies to this package as is.
        {kPidCharCount, VT_I4, 0, {}},
        {kPidAppName, VT_LPSTR, 0, "Zelvan sample mkmst"},
        {kPidSecurity, VT_I4, 4, {}},
    };

    IStorage* stg = nullptr;
    HRESULT hr = StgCreateDocfile(out_path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &stg);
    if (FAILED(hr)) return fail("StgCreateDocfile", hr);
    bool ok = SUCCEEDED(stg->SetClass(kClsidMsiTransform)) &&
              write_stream(stg, table_stream_name(L"_StringPool"), pool) &&
              write_stream(stg, table_stream_name(L"_StringData"), data) &&
              write_stream(stg, table_stream_name(L"Property"), property) &&
              write_stream(stg, L"\x05SummaryInformation", summary_stream(summary));
    if (ok) {
        hr = stg->Commit(STGC_DEFAULT);
        if (FAILED(hr)) ok = fail("Commit", hr);
    }
    stg->Release();
    return ok;
}

bool embed(const std::wstring& package, int count, wchar_t** pairs) {
    MSIHANDLE db = 0;
    UINT r = MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_TRANSACT, &db);
    if (r != ERROR_SUCCESS) return fail("MsiOpenDatabase(package)", r);
    MSIHANDLE view = 0;
    r = MsiDatabaseOpenViewW(db, L"INSERT INTO `_Storages` (`Name`, `Data`) VALUES (?, ?)", &view);
    bool ok = r == ERROR_SUCCESS || fail("open _Storages view", r);
    for (int i = 0; ok && i + 1 < count; i += 2) {
        MSIHANDLE rec = MsiCreateRecord(2);
        r = MsiRecordSetStringW(rec, 1, pairs[i]);
        if (r == ERROR_SUCCESS) r = MsiRecordSetStreamW(rec, 2, pairs[i + 1]);
        if (r == ERROR_SUCCESS) r = MsiViewExecute(view, rec);
        if (r != ERROR_SUCCESS) ok = fail("inserting into _Storages", r);
        MsiViewClose(view);
        MsiCloseHandle(rec);
    }
    if (view) MsiCloseHandle(view);
    if (ok) {
        r = MsiDatabaseCommit(db);
        if (r != ERROR_SUCCESS) ok = fail("MsiDatabaseCommit", r);
    }
    MsiCloseHandle(db);
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    bool ok = false;
    if (mode == L"make" && argc == 5) {
        char lang[16] = {};
        WideCharToMultiByte(CP_ACP, 0, argv[3], -1, lang, sizeof lang - 1, nullptr, nullptr);
        ok = make_transform(argv[2], lang, argv[4]);
    } else if (mode == L"embed" && argc >= 5 && (argc - 3) % 2 == 0) {
        ok = embed(argv[2], argc - 3, argv + 3);
    } else {
        std::fprintf(stderr,
                     "usage: mkmst.exe make BASE.msi LANGID OUT.mst\n"
                     "       mkmst.exe embed PACKAGE.msi NAME FILE.mst [NAME FILE.mst ...]\n");
        return 2;
    }
    return ok ? 0 : 1;
}
