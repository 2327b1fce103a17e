// The library entry point, and the shipped libtrivsets.so loaded as a
// program would load it: the texts come from TRIVDATA.TDF beside the
// library file, wherever that is, and unloading frees them.

#include <dlfcn.h>
#include <stdint.h>

#include <filesystem>
#include <string>

#include "dll_main.h"
#include "settings_test_support.h"

namespace settings_test {
namespace {

// ---------------------------------------------------------------------------
// DllMain

using EntryPoint = MessageTableTest;

TEST_F(EntryPoint, ReasonIsTakenFromItsLow16Bits) {
    // Process attach: the library looks for its own file and the data file.
    Standin_FailAlways(StandinCreateFile, 1);
    EXPECT_EQ(DllMain(nullptr, 0x10000 | DLL_PROCESS_ATTACH, nullptr), TRUE);
    EXPECT_EQ(Standin_Calls(StandinGetModuleFileName), 1);
    EXPECT_EQ(Standin_Calls(StandinCreateFile), 1);
    Unload();

    // Process detach: the table is freed.
    Load(MessageFile(AllMessages()));
    ASSERT_EQ(Text(0), TextOf(0));
    EXPECT_EQ(DllMain(nullptr, 0xABCD0000 | DLL_PROCESS_DETACH, nullptr), TRUE);
    EXPECT_EQ(Standin_Live().blocks, 0);
    EXPECT_EQ(Text(0), "");
}

TEST_F(EntryPoint, OtherReasonsDoNothing) {
    Load(MessageFile(AllMessages()));
    Standin_Reset();
    for (DWORD reason : {DWORD{DLL_THREAD_ATTACH}, DWORD{DLL_THREAD_DETACH}, 0x10002u, 0x10003u, 4u,
                         0xFFFFu, 0xFFFFFFFFu}) {
        EXPECT_EQ(DllMain(nullptr, reason, nullptr), TRUE) << "reason " << reason;
    }
    EXPECT_EQ(Standin_Calls(StandinGetModuleFileName), 0);
    EXPECT_EQ(Standin_Live().blocks, kErrorMessageCount);
    EXPECT_EQ(Text(0), TextOf(0));
}

TEST_F(EntryPoint, WithoutItsOwnPathTheLibraryLoadsNothingAndStillAttaches) {
    Standin_FailAlways(StandinGetModuleFileName, 1);
    EXPECT_EQ(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr), TRUE);
    Standin_Reset();
    // A handle that is not the base of a loaded object has no file name.
    static int notAModule;
    EXPECT_EQ(DllMain(&notAModule, DLL_PROCESS_ATTACH, nullptr), TRUE);
    EXPECT_EQ(Standin_Calls(StandinCreateFile), 0) << "the current directory is never tried";
    EXPECT_EQ(Text(0), "");
}

// ---------------------------------------------------------------------------
// The shipped library

using GetErrorMsg = const char *(TRIVSETS_CALL *)(int32_t);

class SharedLibrary : public MessageTableTest {
protected:
    void SetUp() override {
        MessageTableTest::SetUp();
#ifndef TRIVSETS_LIBRARY
        GTEST_SKIP() << "built without TRIVSETS_LIBRARY, the path of libtrivsets.so";
#endif
    }
    void TearDown() override {
        if (handle_ != nullptr) dlclose(handle_);
        MessageTableTest::TearDown();
    }

    // Copies the library into directory (created if need be) as name.
    std::string Install(const std::string &directory, const std::string &name) {
        std::filesystem::create_directories(directory);
        std::string path = directory + "/" + name;
#ifdef TRIVSETS_LIBRARY
        std::filesystem::copy_file(TRIVSETS_LIBRARY, path);
#endif
        return path;
    }
    // Loads the library (its load is the process attach); its export.
    GetErrorMsg Open(const std::string &path) {
        Standin_Reset();
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(handle_, nullptr) << dlerror();
        if (handle_ == nullptr) return nullptr;
        auto get = reinterpret_cast<GetErrorMsg>(dlsym(handle_, "SPRINST_GetErrorMsg"));
        EXPECT_NE(get, nullptr);
        return get;
    }
    void Close() {
        ASSERT_EQ(dlclose(handle_), 0);
        handle_ = nullptr;
    }
    // A directory below the temporary one whose path, with its final slash,
    // is length characters long.
    std::string DirectoryOfLength(size_t length) {
        size_t pad = length - 1 - dir_.Path().size() - 1;
        return dir_.Path() + "/" + std::string(pad, 'p');
    }

    void *handle_ = nullptr;
};

TEST_F(SharedLibrary, ServesTheTextsOfTheDataFileBesideIt) {
    std::string lib = dir_.Path() + "/lib";
    std::string path = Install(lib, "libtrivsets.so");
    dir_.Write("lib/TRIVDATA.TDF", MessageFile(AllMessages()).bytes);
    dir_.Write("TRIVDATA.TDF", MessageFile({{"ERMSG_00", "wrong directory"}}).bytes);

    GetErrorMsg get = Open(path);
    ASSERT_NE(get, nullptr);
    for (int i = 0; i < 15; ++i) EXPECT_STREQ(get(i), TextOf(i).c_str());
    for (int32_t result : {15, 99, -1}) EXPECT_STREQ(get(result), "general message");
    EXPECT_EQ(Standin_Calls(StandinGetModuleFileName), 1);
    EXPECT_EQ(Standin_Live().files, 0);
    EXPECT_EQ(Standin_Live().blocks, kErrorMessageCount);
    EXPECT_EQ(Text(0), "") << "the library keeps its own table";

    Close();
    EXPECT_EQ(Standin_Live().blocks, 0) << "unloading frees every text";
}

TEST_F(SharedLibrary, WithoutADataFileEveryTextIsEmpty) {
    GetErrorMsg get = Open(Install(dir_.Path(), "libtrivsets.so"));
    ASSERT_NE(get, nullptr);
    for (int32_t result : {0, 7, 14, 15, 16, 99, -1}) {
        ASSERT_NE(get(result), nullptr);
        EXPECT_STREQ(get(result), "") << "result " << result;
    }
    EXPECT_EQ(Standin_Calls(StandinCreateFile), 1);
    Close();
}

TEST_F(SharedLibrary, DataFilePathMayTakeAll259Characters) {
    if (dir_.Path().size() > 200) GTEST_SKIP() << "temporary directory path too long";
    // 247 + "TRIVDATA.TDF" = 259 characters: the longest that fits 260 bytes.
    std::string lib = DirectoryOfLength(247);
    std::string path = Install(lib, "t.so");
    dir_.Write(lib.substr(dir_.Path().size() + 1) + "/TRIVDATA.TDF",
               MessageFile(AllMessages()).bytes);
    GetErrorMsg get = Open(path);
    ASSERT_NE(get, nullptr);
    EXPECT_STREQ(get(3), TextOf(3).c_str());
    Close();
}

TEST_F(SharedLibrary, DataFilePathThatWouldNotFitIsNotTried) {
    if (dir_.Path().size() > 200) GTEST_SKIP() << "temporary directory path too long";
    std::string lib = DirectoryOfLength(248);
    std::string path = Install(lib, "t.so");
    dir_.Write(lib.substr(dir_.Path().size() + 1) + "/TRIVDATA.TDF",
               MessageFile(AllMessages()).bytes);
    GetErrorMsg get = Open(path);
    ASSERT_NE(get, nullptr);
    EXPECT_EQ(Standin_Calls(StandinCreateFile), 0);
    EXPECT_STREQ(get(3), "");
    Close();
}

TEST_F(SharedLibrary, LibraryPathOf260CharactersOrMoreLoadsNothing) {
    if (dir_.Path().size() > 200) GTEST_SKIP() << "temporary directory path too long";
    std::string lib = DirectoryOfLength(240);
    std::filesystem::create_directories(lib);
    dir_.Write(lib.substr(dir_.Path().size() + 1) + "/TRIVDATA.TDF",
               MessageFile(AllMessages()).bytes);
    // 240 + 19 = 259 characters fit the 260-byte buffer; 260 are cut short.
    for (size_t length : {19, 20, 40}) {
        SCOPED_TRACE("library path of " + std::to_string(240 + length) + " characters");
        GetErrorMsg get = Open(Install(lib, std::string(length, 'n')));
        ASSERT_NE(get, nullptr);
        EXPECT_EQ(Standin_Calls(StandinCreateFile), length == 19 ? 1 : 0);
        EXPECT_STREQ(get(3), length == 19 ? TextOf(3).c_str() : "");
        Close();
    }
}

}  // namespace
}  // namespace settings_test
