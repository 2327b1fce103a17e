// The PE loader of the stand-in, on the probe DLLs of the win32 build and on
// patched copies of them: what it maps, relocates, binds and enters, and
// what it refuses, each refusal with its reason.

#include <stdio.h>
#include <string.h>

#include <functional>
#include <string>

#include "pe_test_support.h"

namespace pe_test {
namespace {

std::string Probe(const char *variant = "PROBE") {
    return Win32File(std::string("tests/pe/") + variant + ".DLL");
}

// Field access to a PE file's headers, for patching copies.
struct PeFile {
    Bytes bytes;

    uint32_t U32(size_t at) const {
        return bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16 |
               static_cast<uint32_t>(bytes.at(at + 3)) << 24;
    }
    uint16_t U16(size_t at) const {
        return static_cast<uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8);
    }
    void Put16(size_t at, uint16_t v) {
        bytes.at(at) = static_cast<uint8_t>(v);
        bytes.at(at + 1) = static_cast<uint8_t>(v >> 8);
    }
    void Put32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
    }

    uint32_t FileHeader() const { return U32(0x3C) + 4; }
    // The header of section i in the section table.
    uint32_t Section(uint32_t i) const { return Optional() + U16(FileHeader() + 16) + 40 * i; }
    // The first section whose flags have (or lack) the given bit.
    uint32_t SectionWhere(uint32_t bit, bool set) const {
        for (uint32_t i = 0; i < U16(FileHeader() + 2); ++i) {
            if (((U32(Section(i) + 36) & bit) != 0) == set) return Section(i);
        }
        ADD_FAILURE() << "no such section";
        return Section(0);
    }
    uint32_t Optional() const { return FileHeader() + 20; }
    uint32_t Directory(int index) const { return Optional() + 96 + 8 * index; }
    // The file offset of an RVA, through the section table.
    uint32_t FileOffset(uint32_t rva) const {
        uint32_t table = Optional() + U16(FileHeader() + 16);
        for (uint32_t i = 0; i < U16(FileHeader() + 2); ++i) {
            uint32_t at = table + 40 * i;
            uint32_t va = U32(at + 12), raw = U32(at + 16), pointer = U32(at + 20);
            if (rva >= va && rva < va + raw) return pointer + (rva - va);
        }
        ADD_FAILURE() << "RVA " << rva << " is in no section";
        return 0;
    }
};

class PeLoader : public StandinTest {
protected:
    // The DLL at `from`, changed by `patch`, as a file of the scratch
    // directory.
    std::string Patched(const std::string &from, const std::string &name,
                        const std::function<void(PeFile &)> &patch) {
        PeFile file{ReadBytes(from)};
        patch(file);
        WriteBytes(scratch.File(name), file.bytes);
        return scratch.File(name);
    }

    // Loads what must be refused, and checks the reason and that nothing
    // stays loaded or was entered (`entries`: the entry point calls that
    // must have been made before the refusal).
    void ExpectRefused(const std::string &path, const std::string &reason, int entries = 0) {
        StandinLive before = Standin_Live();
        int callsBefore = Standin_DriverCalls();
        HMODULE module = LoadLibraryA(path.c_str());
        EXPECT_EQ(module, nullptr) << path;
        if (module != nullptr) FreeLibrary(module);
        std::string error = Standin_LoadError();
        EXPECT_NE(error.find(reason), std::string::npos)
            << "the reason given: " << error << "\nexpected it to contain: " << reason;
        EXPECT_EQ(Standin_Live().modules, before.modules);
        EXPECT_EQ(Standin_DriverCalls(), callsBefore + entries) << "entry point calls";
    }

    ScratchDir scratch;
};

// --- What a loaded DLL can rely on ---------------------------------------------

TEST_F(PeLoader, RelocatesBindsAndCallsTheProbesExports) {
    LoadedDll probe(Probe());
    ASSERT_NE(probe.module(), nullptr) << probe.error();
    const uint8_t *base = static_cast<const uint8_t *>(probe.module());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(base) % 4096, 0u) << "the handle is the image base";

    for (int32_t offset : kStackOffsets) {
        // Pointers stored in its read-only data point into the image as loaded.
        for (uint32_t i : {0u, 1u}) {
            uint32_t name = CallChecked(probe.Export("Probe_Name"), {i}, offset, 0);
            const char *text = reinterpret_cast<const char *>(static_cast<uintptr_t>(name));
            EXPECT_GT(text, reinterpret_cast<const char *>(base));
            EXPECT_STREQ(text, i == 0 ? "first" : "second");
        }
        // strlen is bound to the host's.
        EXPECT_EQ(CallChecked(probe.Export("Probe_Length"), {Arg("seven!!")}, offset, 0), 7u);
        EXPECT_EQ(CallChecked(probe.Export("Probe_Add"), {40, 2}, offset, 8), 42u);
        // A 64-bit argument goes low half first; the result comes in edx:eax.
        PeCallResult wide = Call(probe.Export("Probe_Wide"), {0x40000001, 0x1}, offset);
        EXPECT_EQ(uint64_t{wide.edx} << 32 | wide.eax, 0x00000003'C0000003ull);
    }
    // Its data starts as the file has it, and is writable.
    int32_t *counter = reinterpret_cast<int32_t *>(
        static_cast<uintptr_t>(CallChecked(probe.Export("Probe_Counter"), {}, 4, 0)));
    EXPECT_EQ(*counter, 7);
    *counter = 8;
}

TEST_F(PeLoader, ExportsAreFoundByTheirExactNameOnly) {
    LoadedDll probe(Probe());
    ASSERT_NE(probe.module(), nullptr) << probe.error();
    EXPECT_NE(probe.Export("Probe_Add"), nullptr);
    EXPECT_EQ(probe.Export("probe_add"), nullptr);
    EXPECT_EQ(probe.Export("Probe_Add@8"), nullptr) << "the .def kills the decoration";
    EXPECT_EQ(probe.Export("Probe"), nullptr);
    EXPECT_EQ(probe.Export("DllMain"), nullptr);
    EXPECT_EQ(probe.Export(reinterpret_cast<const char *>(1)), nullptr) << "by ordinal";
}

TEST_F(PeLoader, EntersTheDllOnceForAttachAndOnceForDetachWithItsHandle) {
    HMODULE first = LoadLibraryA(Probe().c_str());
    ASSERT_NE(first, nullptr) << Standin_LoadError();
    // A second load of the same file is the same module, not entered again.
    HMODULE second = LoadLibraryA(Probe().c_str());
    EXPECT_EQ(second, first);
    ASSERT_EQ(Standin_DriverCalls(), 1);
    EXPECT_STREQ(Standin_DriverCall(0).exportName, "attach");
    EXPECT_EQ(Standin_DriverCall(0).printerName, static_cast<const char *>(first));

    FreeLibrary(second);
    EXPECT_EQ(Standin_DriverCalls(), 1) << "still loaded once";
    FreeLibrary(first);
    ASSERT_EQ(Standin_DriverCalls(), 2);
    EXPECT_STREQ(Standin_DriverCall(1).exportName, "detach");
    EXPECT_EQ(Standin_DriverCall(1).printerName, static_cast<const char *>(first));
}

TEST_F(PeLoader, ModuleFileNameIsThePathItWasLoadedFrom) {
    std::string path = scratch.Copy(Probe(), "Probe Copy.dll");
    LoadedDll probe(path);
    ASSERT_NE(probe.module(), nullptr) << probe.error();
    char name[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(probe.module(), name, MAX_PATH);
    std::string expected = std::filesystem::canonical(path).string();
    EXPECT_EQ(std::string(name), expected);
    EXPECT_EQ(length, expected.size());
    // Cut as for any module: terminated, the full buffer size reported.
    char cut[8];
    EXPECT_EQ(GetModuleFileNameA(probe.module(), cut, sizeof cut), sizeof cut);
    EXPECT_EQ(std::string(cut), expected.substr(0, 7));
}

// The protection of the page holding an address, as /proc/self/maps lists it
// ("r-xp" and so on).
std::string ProtectionAt(const void *address) {
    FILE *maps = fopen("/proc/self/maps", "r");
    if (maps == nullptr) return "";
    uintptr_t at = reinterpret_cast<uintptr_t>(address);
    char line[512];
    std::string found;
    while (fgets(line, sizeof line, maps)) {
        unsigned long start, end;
        char protection[8];
        if (sscanf(line, "%lx-%lx %7s", &start, &end, protection) == 3 && at >= start && at < end) {
            found = protection;
            break;
        }
    }
    fclose(maps);
    return found;
}

TEST_F(PeLoader, SectionsGetTheProtectionTheirFlagsAsk) {
    LoadedDll probe(Probe());
    ASSERT_NE(probe.module(), nullptr) << probe.error();
    const void *code = probe.Export("Probe_Add");
    const void *constant =
        reinterpret_cast<const void *>(CallChecked(probe.Export("Probe_Name"), {0}, 0, 0));
    const void *data =
        reinterpret_cast<const void *>(CallChecked(probe.Export("Probe_Counter"), {}, 0, 0));
    // qemu-i386 lists no execute bit for guest code: the DLL's code is
    // listed as this program's own is.
    EXPECT_EQ(ProtectionAt(code), ProtectionAt(reinterpret_cast<const void *>(&ProtectionAt)));
    EXPECT_EQ(ProtectionAt(code).substr(0, 2), "r-");
    EXPECT_EQ(ProtectionAt(constant), "r--p");
    EXPECT_EQ(ProtectionAt(data), "rw-p");
    EXPECT_EQ(ProtectionAt(probe.module()), "r--p") << "the headers";
}

// --- What it refuses --------------------------------------------------------------

TEST_F(PeLoader, RefusesImportsTheHostDoesNotProvide) {
    ExpectRefused(Probe("PROBE_IMPORT_SLEEP"),
                  "PROBE_IMPORT_SLEEP.DLL: imports Sleep from KERNEL32.dll, which the host does "
                  "not provide");
    ExpectRefused(Probe("PROBE_IMPORT_USER32"),
                  "PROBE_IMPORT_USER32.DLL: imports from USER32.dll, a DLL the host does not "
                  "provide");
    ExpectRefused(Probe("PROBE_IMPORT_ORDINAL"),
                  "PROBE_IMPORT_ORDINAL.DLL: imports ordinal 1 from msvcrt.dll; the host binds "
                  "imports by name only");
}

TEST_F(PeLoader, RefusesAnEntryPointThatBreaksItsConventionOrFails) {
    // Only a call can show what an entry point pops: it is entered once.
    ExpectRefused(Probe("PROBE_CDECL_ENTRY"),
                  "PROBE_CDECL_ENTRY.DLL: its entry point popped 0 bytes of arguments, not the 12 "
                  "of a __stdcall DllMain",
                  1);
    Standin_Reset();

    // A failed attach is followed at once by a detach, as on Windows.
    HMODULE module = LoadLibraryA(Probe("PROBE_FAIL_ATTACH").c_str());
    EXPECT_EQ(module, nullptr);
    EXPECT_EQ(std::string(Standin_LoadError()),
              "PROBE_FAIL_ATTACH.DLL: its entry point failed the process attach");
    ASSERT_EQ(Standin_DriverCalls(), 2);
    EXPECT_STREQ(Standin_DriverCall(0).exportName, "attach");
    EXPECT_STREQ(Standin_DriverCall(1).exportName, "detach");
}

TEST_F(PeLoader, RefusesFilesThatAreNotI386Pe32Dlls) {
    const std::string probe = Probe();
    // Not even "MZ": the dynamic loader gets it and says why not.
    WriteBytes(scratch.File("text.dll"), Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    ExpectRefused(scratch.File("text.dll"), "text.dll");

    ExpectRefused(Patched(probe, "nosig.dll", [](PeFile &f) { f.Put32(0x3C, 0x10); }),
                  "nosig.dll: not a PE image: no PE signature at 0x10");
    ExpectRefused(Patched(probe, "beyond.dll", [](PeFile &f) { f.Put32(0x3C, 0x7FFFFFF0); }),
                  "beyond.dll: not a PE image: no PE signature at 0x7FFFFFF0");
    ExpectRefused(Patched(probe, "amd64.dll", [](PeFile &f) { f.Put16(f.FileHeader(), 0x8664); }),
                  "amd64.dll: machine 0x8664 is not i386 (0x14C)");
    ExpectRefused(Patched(probe, "exe.dll",
                          [](PeFile &f) {
                              uint32_t at = f.FileHeader() + 18;
                              f.Put16(at, f.U16(at) & ~0x2000);
                          }),
                  "exe.dll: not a DLL: Characteristics 0x306 lack the DLL flag");
    ExpectRefused(Patched(probe, "pe32plus.dll", [](PeFile &f) { f.Put16(f.Optional(), 0x20B); }),
                  "pe32plus.dll: not a PE32 image: optional header magic 0x20B");
}

TEST_F(PeLoader, RefusesWhatItDoesNotImplementRatherThanHalfDoingIt) {
    const std::string probe = Probe();
    ExpectRefused(Patched(probe, "tls.dll", [](PeFile &f) { f.Put32(f.Directory(9), 0x3000); }),
                  "tls.dll: has a TLS directory");
    ExpectRefused(Patched(probe, "delay.dll", [](PeFile &f) { f.Put32(f.Directory(13), 0x3000); }),
                  "delay.dll: has delay-load imports");
    // The first relocation turned into a 64-bit one (type 10).
    ExpectRefused(Patched(probe, "dir64.dll",
                          [](PeFile &f) {
                              uint32_t block = f.FileOffset(f.U32(f.Directory(5)));
                              uint16_t entry = f.U16(block + 8);
                              f.Put16(block + 8, static_cast<uint16_t>(0xA000 | (entry & 0xFFF)));
                          }),
                  "dir64.dll: base relocation of type 10 at RVA");
}

// Files that would otherwise crash the host when mapped, protected or entered.
TEST_F(PeLoader, RefusesSectionsAndEntryPointsItCouldNotMapSafely) {
    constexpr uint32_t kExecute = 0x20000000;
    const std::string probe = Probe();
    ExpectRefused(Patched(probe, "offpage.dll",
                          [](PeFile &f) {
                              uint32_t text = f.SectionWhere(kExecute, true);
                              f.Put32(text + 12, f.U32(text + 12) + 0x10);
                          }),
                  "offpage.dll: section .text is not aligned to SectionAlignment");
    ExpectRefused(Patched(probe, "noaccess.dll",
                          [](PeFile &f) {
                              uint32_t data = f.SectionWhere(kExecute, false);
                              f.Put32(data + 36, f.U32(data + 36) & 0x1FFFFFFF);
                          }),
                  "may be neither read, written nor run");
    ExpectRefused(Patched(probe, "dataentry.dll",
                          [](PeFile &f) {
                              uint32_t data = f.SectionWhere(kExecute, false);
                              f.Put32(f.Optional() + 16, f.U32(data + 12));
                          }),
                  "dataentry.dll: its entry point 0x");
    EXPECT_NE(std::string(Standin_LoadError()).find("lies in no executable section"),
              std::string::npos);
}

// An image without relocations can only go to its preferred base; a second
// load finds the first instead of mapping it again.
TEST_F(PeLoader, ASecondLoadOfAnImageWithoutRelocationsSharesTheFirst) {
    const std::string path = Patched(Probe(), "norelocs.dll", [](PeFile &f) {
        f.Put32(f.Directory(5), 0);
        f.Put32(f.Directory(5) + 4, 0);
    });
    LoadedDll first(path);
    ASSERT_NE(first.module(), nullptr) << first.error();
    LoadedDll second(path);
    EXPECT_EQ(second.module(), first.module()) << second.error();
}

// Found by the loader's fuzzer: an image pinned to base 0 was mapped there
// by a process allowed to map page 0, and then copied through a null base.
TEST_F(PeLoader, RefusesAnImagePinnedToTheFirst64KiB) {
    ExpectRefused(Patched(Probe(), "base0.dll",
                          [](PeFile &f) {
                              f.Put32(f.Directory(5), 0);
                              f.Put32(f.Directory(5) + 4, 0);
                              f.Put32(f.Optional() + 28, 0);
                          }),
                  "base0.dll: has no base relocations, and its preferred base 0x0 lies in the "
                  "first 64 KiB");
}

// Also from the fuzzer: an image claiming 900 MB took half a minute to map,
// relocate and protect before it was refused.
TEST_F(PeLoader, RefusesAnImageLargerThan64MiB) {
    ExpectRefused(Patched(Probe(), "huge.dll",
                          [](PeFile &f) { f.Put32(f.Optional() + 56, 0x36B00AD2); }),
                  "huge.dll: SizeOfImage 0x36B00AD2 or SizeOfHeaders");
}

TEST_F(PeLoader, RefusesATruncatedFile) {
    const std::string probe = Probe();
    Bytes whole = ReadBytes(probe);
    ASSERT_GT(whole.size(), 0xA00u);
    // .rdata's raw data runs from 0x800 to 0xA00 in the probe.
    WriteBytes(scratch.File("cut.dll"), Bytes(whole.begin(), whole.begin() + 0x900));
    ExpectRefused(scratch.File("cut.dll"),
                  "cut.dll: section .rdata lies beyond the end of the file");
    WriteBytes(scratch.File("stub.dll"), Bytes(whole.begin(), whole.begin() + 40));
    ExpectRefused(scratch.File("stub.dll"), "stub.dll: not a PE image: no MZ header");
}

}  // namespace
}  // namespace pe_test
