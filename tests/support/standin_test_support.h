// Test scaffolding shared by the suites that run over the Win32 stand-in:
// a fixture that proves a test left nothing live, and a scratch directory.
#pragma once

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "standin.h"

namespace standin_test {

// Starts from a clean stand-in (no printers, faults, recordings or switches)
// and ends by checking that nothing the test acquired is still live: no
// printer, device context, module, file or memory block.
class LeakCheckedTest : public ::testing::Test {
protected:
    void SetUp() override {
        Standin_Reset();
        before_ = Standin_Live();
    }
    void TearDown() override {
        Standin_Reset();
        StandinLive live = Standin_Live();
        EXPECT_EQ(live.printers, before_.printers) << "printer handles left open";
        EXPECT_EQ(live.dcs, before_.dcs) << "device contexts left undeleted";
        EXPECT_EQ(live.modules, before_.modules) << "modules left loaded";
        EXPECT_EQ(live.files, before_.files) << "file handles left open";
        EXPECT_EQ(live.blocks, before_.blocks) << "memory blocks left allocated";
    }

private:
    StandinLive before_ = {};
};

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the test.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "trivtest-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp " << pattern;
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &Path() const { return path_; }
    // The full path of a file in the directory (or below it).
    std::string File(const std::string &name) const { return path_ + "/" + name; }
    // Writes a file in the directory (or below it); its full path.
    std::string Write(const std::string &name, const std::vector<uint8_t> &bytes) const {
        std::string path = File(name);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(out.good()) << "writing " << path;
        return path;
    }
    // Copies a file in under the given name; its full path.
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

}  // namespace standin_test
