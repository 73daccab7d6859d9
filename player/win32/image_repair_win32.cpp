// What a loader leaves undone when another program loads this executable as
// a module, and the repair made by the first call through an export.
//
// An executable loaded with LoadLibrary is prepared only in part. It may be
// mapped at another base with its base relocations not applied (every
// absolute address in its code and data then still names the base it was
// linked for), none of its imports are bound (each import slot still holds
// the offset of the function's name), and none of its start-up code runs.
// So the first call through an export:
//   1. compares where the image runs with where its code assumes it runs
//      (the absolute address of one of its own labels, written in its code,
//      names the running address exactly when the image was relocated) and,
//      when they differ, applies the image's own base relocations for the
//      difference, with the read-only sections made writable meanwhile;
//   2. binds every import slot that still holds a name, through LoadLibraryA
//      and GetProcAddress of the process's kernel32, found in the process's
//      list of loaded modules; the names to look for are taken from the
//      image's own import table;
//   3. needs nothing else of the start-up code: the exported code uses no
//      static constructors and no thread-local data, and an image with
//      runtime pseudo-relocations (which the start-up code would apply) is
//      refused rather than run half-prepared.
// In a process whose loader did everything (the player running as a
// program) steps 1 and 2 find nothing to do.
//
// Until the repair is done this file may rely on nothing it repairs: no
// absolute address (on i386 that rules out reaching globals or string
// literals directly, and jump tables), no import and no call outside this
// file. Its build flags keep the compiler from adding such things, and the
// export test checks the object's relocations. The state word is reached
// relative to where the image runs.
//
// Concurrent first calls: one thread claims the repair and the others spin
// until it is over, then serialise the processor before running code that
// may just have been rewritten. Afterwards a call costs one load.
#include "player/win32/image_repair_win32.h"

#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <cstdint>

namespace {

enum : LONG { kUnrepaired = 0, kRepairing, kRepaired, kRefused };

// Zero in a freshly mapped image: kUnrepaired. Named for the assembler so
// that the code can reach it relative to where the image runs.
__attribute__((used)) LONG g_state __asm__("image_repair_state");

// Where an assembler symbol of the image is now: relative to the
// instruction pointer (on i386 through call/pop and the image-relative
// addresses of the symbol and the label, kept as constants beside the code).
#if defined(__x86_64__)
#define RUNNING_ADDRESS_OF(symbol, out) __asm__("lea " symbol "(%%rip), %0" : "=r"(out))
#else
#define RUNNING_ADDRESS_OF(symbol, out)                                                    \
    do {                                                                                   \
        uintptr_t offset_;                                                                 \
        __asm__("call 1f\n1:\tpop %0\n\tmov 2f-1b(%0), %1\n\tsub 2f+4-1b(%0), %1\n\t"           \
                "add %1, %0\n\tjmp 3f\n2:\t.rva " symbol "\n\t.rva 1b\n3:"                     \
                : "=&r"(out), "=&r"(offset_));                                             \
    } while (0)
#endif

uint8_t* RunningBase() {
    uint8_t* base;
#if defined(__x86_64__)
    __asm__("lea __ImageBase(%%rip), %0" : "=r"(base));
#else
    // call/pop gives the running address of a label; minus its offset.
    __asm__("call 1f\n1:\tpop %0\n\tsub 2f-1b(%0), %0\n\tjmp 3f\n2:\t.rva 1b\n3:" : "=r"(base));
#endif
    return base;
}

LONG* StateWord() {
    LONG* state;
    RUNNING_ADDRESS_OF("image_repair_state", state);
    return state;
}

// How far the image runs from where its code assumes it runs: the running
// address of a label minus the absolute address of that label written in
// the code (the one absolute reference here, which the relocation rewrites;
// only the thread that repairs reads it, before rewriting it).
intptr_t CodeShift() {
    intptr_t running, written;
#if defined(__x86_64__)
    __asm__ volatile("lea 1f(%%rip), %0\n\tmovabs $1f, %1\n1:" : "=&r"(running), "=r"(written));
#else
    __asm__ volatile("call 1f\n1:\tpop %0\n\tmov $1b, %1" : "=&r"(running), "=r"(written));
#endif
    return running - written;
}

bool HasPseudoRelocations() {
    // Bounds of the list the start-up code would apply (set by the linker).
    char *first, *end;
    RUNNING_ADDRESS_OF("__RUNTIME_PSEUDO_RELOC_LIST__", first);
    RUNNING_ADDRESS_OF("__RUNTIME_PSEUDO_RELOC_LIST_END__", end);
    return end != first;
}

template <class T>
T* At(uint8_t* base, uintptr_t offset) {
    return reinterpret_cast<T*>(base + offset);
}

IMAGE_NT_HEADERS* Headers(uint8_t* base) {
    return At<IMAGE_NT_HEADERS>(base, reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
}

IMAGE_DATA_DIRECTORY Directory(uint8_t* base, int entry) {
    return Headers(base)->OptionalHeader.DataDirectory[entry];
}

constexpr unsigned Lower(unsigned c) { return c - 'A' < 26u ? c + ('a' - 'A') : c; }

// A hash of a name, letter case ignored. Names looked for are hashed at
// compile time, so that no string literal is needed; the hash only picks
// among the image's own import names, and those are then looked up exactly.
constexpr uint32_t NameHash(const char* s) {
    uint32_t h = 2166136261u;
    for (; *s; ++s) h = (h ^ Lower(static_cast<unsigned char>(*s))) * 16777619u;
    return h;
}

bool SameText(const char* a, const char* b) {
    for (; *a && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

// Whether the last part of a module path is `name`, letter case ignored.
bool ModuleNamed(const UNICODE_STRING& path, const char* name) {
    size_t end = path.Length / sizeof(WCHAR), start = end;
    while (start > 0 && path.Buffer[start - 1] != L'\\' && path.Buffer[start - 1] != L'/') --start;
    for (; start < end; ++start, ++name)
        if (!*name || Lower(path.Buffer[start]) != Lower(static_cast<unsigned char>(*name))) return false;
    return *name == 0;
}

IMAGE_IMPORT_DESCRIPTOR* Imports(uint8_t* base) {
    const IMAGE_DATA_DIRECTORY d = Directory(base, IMAGE_DIRECTORY_ENTRY_IMPORT);
    return d.VirtualAddress ? At<IMAGE_IMPORT_DESCRIPTOR>(base, d.VirtualAddress) : nullptr;
}

const char* ImportedName(uint8_t* base, ULONG_PTR entry) {
    return reinterpret_cast<const char*>(At<IMAGE_IMPORT_BY_NAME>(base, entry)->Name);
}

// A slot still holding its name-table entry was never bound.
bool AnyUnboundImport(uint8_t* base) {
    for (IMAGE_IMPORT_DESCRIPTOR* d = Imports(base); d && d->Name; ++d) {
        if (!d->OriginalFirstThunk) continue;
        const ULONG_PTR* names = At<ULONG_PTR>(base, d->OriginalFirstThunk);
        const ULONG_PTR* slots = At<ULONG_PTR>(base, d->FirstThunk);
        for (; *names; ++names, ++slots)
            if (*slots == *names) return true;
    }
    return false;
}

// The image's own spelling of an imported library or function name.
const char* OwnLibraryName(uint8_t* base, uint32_t hash) {
    for (IMAGE_IMPORT_DESCRIPTOR* d = Imports(base); d && d->Name; ++d)
        if (NameHash(At<const char>(base, d->Name)) == hash) return At<const char>(base, d->Name);
    return nullptr;
}

const char* OwnFunctionName(uint8_t* base, uint32_t hash) {
    for (IMAGE_IMPORT_DESCRIPTOR* d = Imports(base); d && d->Name; ++d) {
        if (!d->OriginalFirstThunk) continue;
        for (const ULONG_PTR* n = At<ULONG_PTR>(base, d->OriginalFirstThunk); *n; ++n)
            if (!IMAGE_SNAP_BY_ORDINAL(*n) && NameHash(ImportedName(base, *n)) == hash) return ImportedName(base, *n);
    }
    return nullptr;
}

uint8_t* LoadedModule(const char* name) {
    PEB* peb;
#if defined(__x86_64__)
    __asm__("mov %%gs:%c1, %0" : "=r"(peb) : "i"(offsetof(TEB, ProcessEnvironmentBlock)));
#else
    __asm__("mov %%fs:%c1, %0" : "=r"(peb) : "i"(offsetof(TEB, ProcessEnvironmentBlock)));
#endif
    LIST_ENTRY* head = &peb->Ldr->InMemoryOrderModuleList;
    for (LIST_ENTRY* link = head->Flink; link != head; link = link->Flink) {
        LDR_DATA_TABLE_ENTRY* module = CONTAINING_RECORD(link, LDR_DATA_TABLE_ENTRY, InMemoryOrderLinks);
        if (ModuleNamed(module->FullDllName, name)) return static_cast<uint8_t*>(module->DllBase);
    }
    return nullptr;
}

// A module's export of exactly this name; null when there is none or when
// it is forwarded (its address then holds the name of another export).
void* ExportOf(uint8_t* module, const char* name) {
    const IMAGE_DATA_DIRECTORY dir = Directory(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
    if (!dir.VirtualAddress) return nullptr;
    const IMAGE_EXPORT_DIRECTORY* exports = At<IMAGE_EXPORT_DIRECTORY>(module, dir.VirtualAddress);
    const DWORD* names = At<DWORD>(module, exports->AddressOfNames);
    const WORD* ordinals = At<WORD>(module, exports->AddressOfNameOrdinals);
    const DWORD* functions = At<DWORD>(module, exports->AddressOfFunctions);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        if (!SameText(At<const char>(module, names[i]), name)) continue;
        const DWORD offset = functions[ordinals[i]];
        if (offset >= dir.VirtualAddress && offset - dir.VirtualAddress < dir.Size) return nullptr;
        return module + offset;
    }
    return nullptr;
}

struct Kernel {
    HMODULE(WINAPI* loadLibrary)(LPCSTR);
    FARPROC(WINAPI* getProcAddress)(HMODULE, LPCSTR);
    BOOL(WINAPI* virtualProtect)(LPVOID, SIZE_T, DWORD, PDWORD);
};

template <class Fn>
bool Take(Fn* to, void* from) {
    *to = reinterpret_cast<Fn>(from);
    return from != nullptr;
}

bool FindKernel(uint8_t* base, Kernel* k) {
    constexpr uint32_t kKernelLibrary = NameHash("kernel32.dll");
    constexpr uint32_t kGetProcAddress = NameHash("GetProcAddress");
    constexpr uint32_t kLoadLibrary = NameHash("LoadLibraryA");
    constexpr uint32_t kVirtualProtect = NameHash("VirtualProtect");
    const char* library = OwnLibraryName(base, kKernelLibrary);
    const char* getProcAddress = OwnFunctionName(base, kGetProcAddress);
    const char* loadLibrary = OwnFunctionName(base, kLoadLibrary);
    const char* virtualProtect = OwnFunctionName(base, kVirtualProtect);
    if (!library || !getProcAddress || !loadLibrary || !virtualProtect) return false;
    uint8_t* kernel = LoadedModule(library);
    if (!kernel || !Take(&k->getProcAddress, ExportOf(kernel, getProcAddress))) return false;
    HMODULE module = reinterpret_cast<HMODULE>(kernel);
    return Take(&k->loadLibrary, reinterpret_cast<void*>(k->getProcAddress(module, loadLibrary))) &&
           Take(&k->virtualProtect, reinterpret_cast<void*>(k->getProcAddress(module, virtualProtect)));
}

typedef uint32_t __attribute__((aligned(1), may_alias)) Unaligned32;
typedef uint64_t __attribute__((aligned(1), may_alias)) Unaligned64;

constexpr unsigned kMaxSections = 96;

bool Relocate(uint8_t* base, intptr_t shift, const Kernel& k) {
    IMAGE_NT_HEADERS* nt = Headers(base);
    const IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
    const unsigned count = nt->FileHeader.NumberOfSections;
    if (!dir.VirtualAddress || count > kMaxSections) return false;
    // Relocations land in code and read-only data: writable for the while.
    DWORD old[kMaxSections];
    bool ok = true;
    for (unsigned i = 0; i < count; ++i) {
        old[i] = 0;
        const DWORD flags = sections[i].Characteristics;
        if ((flags & (IMAGE_SCN_MEM_WRITE | IMAGE_SCN_MEM_DISCARDABLE)) || !sections[i].Misc.VirtualSize) continue;
        ok = ok && k.virtualProtect(base + sections[i].VirtualAddress, sections[i].Misc.VirtualSize,
                                    PAGE_EXECUTE_READWRITE, &old[i]);
    }
    for (DWORD at = 0; ok && at + sizeof(IMAGE_BASE_RELOCATION) <= dir.Size;) {
        const IMAGE_BASE_RELOCATION* block = At<IMAGE_BASE_RELOCATION>(base, dir.VirtualAddress + at);
        if (block->SizeOfBlock < sizeof *block) break;
        const WORD* entries = reinterpret_cast<const WORD*>(block + 1);
        const DWORD n = (block->SizeOfBlock - sizeof *block) / sizeof(WORD);
        for (DWORD i = 0; i < n; ++i) {
            uint8_t* where = base + block->VirtualAddress + (entries[i] & 0xFFF);
            const unsigned type = entries[i] >> 12;
            if (type == IMAGE_REL_BASED_HIGHLOW)
                *reinterpret_cast<Unaligned32*>(where) += static_cast<uint32_t>(shift);
            else if (type == IMAGE_REL_BASED_DIR64)
                *reinterpret_cast<Unaligned64*>(where) += static_cast<uint64_t>(shift);
            else if (type != IMAGE_REL_BASED_ABSOLUTE)  // padding
                ok = false;
        }
        at += block->SizeOfBlock;
    }
    for (unsigned i = 0; i < count; ++i) {
        DWORD was;
        if (old[i]) k.virtualProtect(base + sections[i].VirtualAddress, sections[i].Misc.VirtualSize, old[i], &was);
    }
    return ok;
}

bool Bind(uint8_t* base, const Kernel& k) {
    const IMAGE_DATA_DIRECTORY table = Directory(base, IMAGE_DIRECTORY_ENTRY_IAT);
    DWORD old = 0, was;
    if (table.VirtualAddress && !k.virtualProtect(base + table.VirtualAddress, table.Size, PAGE_READWRITE, &old))
        return false;
    bool ok = true;
    for (IMAGE_IMPORT_DESCRIPTOR* d = Imports(base); ok && d && d->Name; ++d) {
        if (!d->OriginalFirstThunk) continue;
        const ULONG_PTR* names = At<ULONG_PTR>(base, d->OriginalFirstThunk);
        ULONG_PTR* slots = At<ULONG_PTR>(base, d->FirstThunk);
        HMODULE library = nullptr;
        for (; ok && *names; ++names, ++slots) {
            if (*slots != *names) continue;  // bound already
            if (!library) library = k.loadLibrary(At<const char>(base, d->Name));
            const FARPROC f = !library                       ? nullptr
                              : IMAGE_SNAP_BY_ORDINAL(*names) ? k.getProcAddress(library, MAKEINTRESOURCEA(IMAGE_ORDINAL(*names)))
                                                              : k.getProcAddress(library, ImportedName(base, *names));
            if (f)
                *slots = reinterpret_cast<ULONG_PTR>(f);
            else
                ok = false;
        }
    }
    if (old) k.virtualProtect(base + table.VirtualAddress, table.Size, old, &was);
    return ok;
}

bool Repair() {
    uint8_t* base = RunningBase();
    const intptr_t shift = CodeShift();
    if (HasPseudoRelocations()) return false;
    if (shift == 0 && !AnyUnboundImport(base)) return true;
    Kernel k;
    if (!FindKernel(base, &k)) return false;
    if (shift != 0 && !Relocate(base, shift, k)) return false;
    return Bind(base, k);
}

// Makes sure no instruction fetched before another thread rewrote the code
// is run (cpuid serialises the processor).
void Serialise() {
    unsigned a = 0, b, c, d;
    __asm__ volatile("cpuid" : "+a"(a), "=b"(b), "=c"(c), "=d"(d)::"memory");
}

__attribute__((noinline)) bool RepairOnce(LONG* state) {
    LONG seen = kUnrepaired;
    if (__atomic_compare_exchange_n(state, &seen, kRepairing, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
        const bool ok = Repair();
        __atomic_store_n(state, ok ? kRepaired : kRefused, __ATOMIC_RELEASE);
        return ok;
    }
    while ((seen = __atomic_load_n(state, __ATOMIC_ACQUIRE)) == kRepairing) __builtin_ia32_pause();
    Serialise();
    return seen == kRepaired;
}

}  // namespace

bool ImageReady() {
    LONG* state = StateWord();
    return __atomic_load_n(state, __ATOMIC_ACQUIRE) == kRepaired || RepairOnce(state);
}
