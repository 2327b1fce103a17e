// Shared by the PE host tests: where the win32 build put the DLLs, a
// scratch directory, a DLL loaded through the stand-in's LoadLibraryA, and
// calls into it through the checking trampoline.
#pragma once

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "pe_call.h"
#include "standin.h"

namespace pe_test {

using Bytes = std::vector<uint8_t>;

// A file of the win32 build tree, e.g. "TRIVJPEG.DLL" or "tests/pe/PROBE.DLL".
inline std::string Win32File(const std::string &relative) {
    return std::string(TRIVJPEG_WIN32_BUILD_DIR) + "/" + relative;
}

// Both alignments a caller may leave: 16 bytes (i386 System V) and 4 (a
// 32-bit Windows caller).
constexpr int32_t kStackOffsets[] = {0, 4};

inline uint32_t Arg(const void *pointer) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

inline Bytes ReadBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

// A fresh directory, removed with everything in it at the end.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "pe-host-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp " << pattern;
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    std::string File(const std::string &name) const { return path_ + "/" + name; }
    // Copies a file in under the given name; its path.
    std::string Copy(const std::string &from, const std::string &name) const {
        std::error_code error;
        std::filesystem::copy_file(from, File(name),
                                   std::filesystem::copy_options::overwrite_existing, error);
        if (error) ADD_FAILURE() << "copying " << from << ": " << error.message();
        return File(name);
    }

private:
    std::string path_;
};

// A DLL loaded through LoadLibraryA, freed at the end of the scope.
class LoadedDll {
public:
    explicit LoadedDll(const std::string &path) : module_(LoadLibraryA(path.c_str())) {
        if (module_ == nullptr) error_ = Standin_LoadError();
    }
    ~LoadedDll() { Free(); }
    LoadedDll(const LoadedDll &) = delete;
    LoadedDll &operator=(const LoadedDll &) = delete;

    HMODULE module() const { return module_; }
    const std::string &error() const { return error_; }
    const void *Export(const char *name) const {
        return module_ ? reinterpret_cast<const void *>(GetProcAddress(module_, name)) : nullptr;
    }
    void Free() {
        if (module_ != nullptr) FreeLibrary(module_);
        module_ = nullptr;
    }

private:
    HMODULE module_;
    std::string error_;
};

inline PeCallResult Call(const void *function, std::initializer_list<uint32_t> arguments,
                         int32_t stackOffset) {
    PeCallResult result = {};
    std::vector<uint32_t> list(arguments);
    Pe_Call(function, list.data(), static_cast<int32_t>(list.size()), stackOffset, &result);
    return result;
}

// A call made as the declared convention says, from each alignment, and
// checked: the callee removed `pops` bytes and kept the caller's registers
// and the direction flag. Returns eax of the last call.
inline uint32_t CallChecked(const void *function, std::initializer_list<uint32_t> arguments,
                            int32_t stackOffset, int32_t pops) {
    PeCallResult result = Call(function, arguments, stackOffset);
    EXPECT_EQ(result.popped, pops) << "bytes of arguments popped, stack offset " << stackOffset;
    EXPECT_TRUE(result.registersKept) << "ebx, esi or edi changed";
    EXPECT_TRUE(result.directionClear) << "direction flag left set";
    return result.eax;
}

// Starts from a clean stand-in and checks at the end that nothing the test
// acquired is still live.
class StandinTest : public ::testing::Test {
protected:
    void SetUp() override {
        Standin_Reset();
        before_ = Standin_Live();
    }
    void TearDown() override {
        Standin_Reset();
        StandinLive live = Standin_Live();
        EXPECT_EQ(live.modules, before_.modules) << "modules left loaded";
        EXPECT_EQ(live.files, before_.files) << "file handles left open";
        EXPECT_EQ(live.blocks, before_.blocks) << "memory blocks left allocated";
        EXPECT_EQ(live.printers, before_.printers) << "printer handles left open";
        EXPECT_EQ(live.dcs, before_.dcs) << "device contexts left undeleted";
    }

private:
    StandinLive before_ = {};
};

}  // namespace pe_test
