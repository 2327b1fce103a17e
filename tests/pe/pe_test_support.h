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
#include "../support/standin_test_support.h"

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

using ScratchDir = standin_test::TempDir;

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

using StandinTest = standin_test::LeakCheckedTest;

}  // namespace pe_test
