/* The tests' log: UTF-8 lines appended to the file named by
 * KX4_NOTIFY_LOG (nothing is written when it is unset). The file is opened
 * per line, so that a process that dies still leaves what it wrote. */
#ifndef KX4_NOTIFY_TEST_LOG_H
#define KX4_NOTIFY_TEST_LOG_H

#include <stdio.h>
#include <string>
#include <windows.h>

static inline std::string utf8(const wchar_t *w, size_t n) {
    if (!n) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    std::string s(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(n), &s[0], size, nullptr, nullptr);
    return s;
}

/* A JSON string literal. */
static inline std::string quoted(const std::wstring &w) {
    std::string s = utf8(w.data(), w.size()), out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

static inline std::string hex(HRESULT hr) {
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08lx", static_cast<unsigned long>(hr));
    return buf;
}

static inline void logLine(const std::string &line) {
    wchar_t path[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"KX4_NOTIFY_LOG", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    FILE *f = _wfopen(path, L"ab");
    if (!f) return;
    fprintf(f, "%s\n", line.c_str());
    fclose(f);
}

/* Points the main program's import of `dll`!`name` at `hook`; false when
 * the program does not import it. */
static inline bool hookImport(const char *dll, const char *name, void *hook, void **original) {
    BYTE *base = reinterpret_cast<BYTE *>(GetModuleHandleW(nullptr));
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto *imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress); imp->Name; imp++) {
        if (lstrcmpiA(reinterpret_cast<char *>(base + imp->Name), dll) != 0) continue;
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + imp->OriginalFirstThunk);
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<char *>(byName->Name), name) != 0) continue;
            DWORD old;
            VirtualProtect(&slots->u1.Function, sizeof(void *), PAGE_READWRITE, &old);
            *original = reinterpret_cast<void *>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(hook);
            VirtualProtect(&slots->u1.Function, sizeof(void *), old, &old);
            return true;
        }
    }
    return false;
}

#endif
